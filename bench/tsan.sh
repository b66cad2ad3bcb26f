#!/usr/bin/env bash
# Builds the test suites that run work on more than one thread with ThreadSanitizer
# into ./build-tsan, runs each and sums up what it reported. Not part of CI: the
# system's Qt is not built with ThreadSanitizer, so its own hand-offs between threads
# (thread pool, queued calls, the slow path of its mutex) look like races;
# bench/tsan/qt.supp drops the reports that lie wholly inside Qt. bench/README.md says
# how to read what remains.
#   bench/tsan.sh                          # every threaded suite
#   bench/tsan.sh test_batch               # only the suites named
#   GTEST_FILTER='BatchRunner.*' bench/tsan.sh test_batch
set -euo pipefail
cd "$(dirname "$0")/.."
suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(test_platform_foundation test_platform_coreimage test_platform_imageio
                                   test_records test_engine test_batch test_import test_editor test_shell)
san="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="$san" -DCMAKE_CXX_FLAGS="$san" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
# The build runs the picture generator, itself built with the checker: its reports are
# not what this run is after.
TSAN_OPTIONS="report_bugs=0:exitcode=0" \
  cmake --build build-tsan -j"${JOBS:-$(nproc)}" --target brisko_resources "${suites[@]}"

export QT_QPA_PLATFORM=offscreen BRISKO_RESOURCES="$PWD/build-tsan/resources"
export TSAN_OPTIONS="suppressions=$PWD/bench/tsan/qt.supp:halt_on_error=0:second_deadlock_stack=1:history_size=4"
mkdir -p build-tsan/reports
status=0
for s in "${suites[@]}"; do
  log="build-tsan/reports/$s.log"
  if setarch -R "build-tsan/tests/$s" --gtest_brief=1 >"$log" 2>&1; then result=passed; else result=FAILED; status=1; fi
  printf '%-26s %-6s %3d race report(s)  %s\n' "$s" "$result" \
    "$(grep -c '^WARNING: ThreadSanitizer' "$log" || true)" "$log"
done
exit $status
