#!/usr/bin/env bash
# Configures and builds into ./build (Release with debug info, Ninja). JOBS limits the
# parallel compiles; ccache is used when it is installed (and CCACHE_DISABLE is unset),
# precompiled headers otherwise. TARGETS names what to build (everything when unset).
# Arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
if command -v ccache >/dev/null 2>&1 && [ -z "${CCACHE_DISABLE:-}" ]; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
targets=()
for t in ${TARGETS:-}; do targets+=(--target "$t"); done
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
cmake --build build -j"${JOBS:-$(nproc)}" "${targets[@]}"
