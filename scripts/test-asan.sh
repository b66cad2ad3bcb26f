#!/usr/bin/env bash
# Builds the project with AddressSanitizer and UndefinedBehaviorSanitizer into
# ./build-asan and runs every test there: reads and writes out of bounds, use after
# free, leaks and undefined behaviour all fail the run. Light optimisation and line
# tables only, so the build stays quick and the reports still name file and line. Only
# the test suites and what they need are built (not the application itself).
#
# Before that, the filter kernels' suite is built by clang with its UndefinedBehaviorSanitizer
# into ./build-ubsan-clang and run: GCC's checker reads an unsigned offset added to a pointer
# as a signed one, and so never sees a pointer formed before the start of a buffer (as the
# blur's line passes once formed one); clang's does. Its set also checks every conversion of
# a floating-point number to an integer, which GCC's leaves out: a position or count beyond
# int's range (the kernels are fed centres and sizes put absurdly far away) is caught there.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
san="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null 2>&1 && [ -z "${CCACHE_DISABLE:-}" ]; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
ubsan="-fsanitize=undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S . -B build-ubsan-clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$ubsan" -DCMAKE_CXX_FLAGS="$ubsan" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=undefined" >/dev/null
cmake --build build-ubsan-clang -j"${JOBS:-$(nproc)}" --target test_platform_coreimage
echo "The filter kernels under clang's UndefinedBehaviorSanitizer:"
QT_QPA_PLATFORM=offscreen BRISKO_RESOURCES="$PWD/build-ubsan-clang/resources" build-ubsan-clang/tests/test_platform_coreimage \
  --gtest_brief=1

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$san" -DCMAKE_CXX_FLAGS="$san" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" "$@" >/dev/null
cmake --build build-asan -j"${JOBS:-$(nproc)}" --target brisko_test_suites
cd build-asan
# CTest starts the longest tests first once it knows their times; a sanitizer build that has
# not run yet borrows those of the normal build, so no long test is left to run alone at the end.
costs=Testing/Temporary/CTestCostData.txt
if [ ! -f "$costs" ] && [ -f "../build/$costs" ]; then
  mkdir -p Testing/Temporary && cp "../build/$costs" "$costs"
fi
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"${TEST_JOBS:-$(nproc)}" --timeout 900
