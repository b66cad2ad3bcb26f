#!/usr/bin/env bash
# Configures and builds into ./build (Release with debug info, Ninja). JOBS limits the
# parallel compiles; ccache is used when it is installed (and CCACHE_DISABLE is unset),
# precompiled headers otherwise. TARGETS names what to build (everything when unset).
# Arguments go to CMake.
#
# A new build folder gets line tables as its debugging information (-g1: backtraces and
# sanitizer reports name file and line): full debugging information takes 20-50 % longer to
# compile a file, and a first start on two cores would wait minutes longer for it. For
# variables in a debugger, configure with -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g -DNDEBUG";
# a folder keeps what it was configured with.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=()
if command -v ccache >/dev/null 2>&1 && [ -z "${CCACHE_DISABLE:-}" ]; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
flags=()
if [ ! -f build/CMakeCache.txt ]; then
  flags=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG")
fi
targets=()
for t in ${TARGETS:-}; do targets+=(--target "$t"); done
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "${flags[@]}" "$@" >/dev/null
cmake --build build -j"${JOBS:-$(nproc)}" "${targets[@]}"
