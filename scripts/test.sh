#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Arguments go to CMake; TEST_JOBS
# limits the tests run at once (one per processor when unset).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh "$@"
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"${TEST_JOBS:-$(nproc)}" --timeout 900
