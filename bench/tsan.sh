#!/usr/bin/env bash
# Builds the test suites that run work on more than one thread with ThreadSanitizer
# into ./build-tsan, runs each and sums up what it reported. Not part of CI: the
# system's Qt is not built with ThreadSanitizer, so its own hand-offs between threads
# (thread pool, queued calls, the slow path of its mutex) look like races;
# bench/tsan/qt.supp drops those it can name and bench/tsan/triage.py sets apart the
# reports that lie wholly inside the libraries. bench/README.md says how to read the rest.
#   bench/tsan.sh                          # every threaded suite
#   bench/tsan.sh batch                    # the batch run: runner, pool, writer, run screen,
#                                          # end-to-end
#   bench/tsan.sh test_batch               # only the suites named
#   GTEST_FILTER='BatchRunner.*' bench/tsan.sh test_batch
set -euo pipefail
cd "$(dirname "$0")/.."
suites=("$@")
declare -A filters=()
if [ "${suites[*]:-}" = batch ]; then
  suites=(test_batch test_shell)
  filters[test_batch]='BatchRunner*:PhotosInFlight*:ResultWriter*:RunScreen*:RunSummary*'
  filters[test_shell]='EndToEnd*'
fi
[ ${#suites[@]} -gt 0 ] || suites=(test_platform_foundation test_platform_coreimage test_platform_imageio
                                   test_platform_pdf test_records test_engine test_batch test_import
                                   test_editor test_shell)
san="-fsanitize=thread -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$san" -DCMAKE_CXX_FLAGS="$san" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
# The build runs the picture generator, itself built with the checker: its reports are
# not what this run is after.
TSAN_OPTIONS="report_bugs=0:exitcode=0" \
  nice cmake --build build-tsan -j"${JOBS:-3}" --target brisko_resources "${suites[@]}"

# Tests that start another process. Qt starts it with a call that shares the parent's
# memory until the child runs its program, and the checker's own bookkeeping of the parent
# is disturbed by it: afterwards a pool thread reading a frame of the caller's stack is
# taken for a race with whatever that frame held long before. They run in a process of
# their own so that what they disturb ends with it.
spawning='GeneratedPictures.*:PdfDocument.PagesAreAppendedAndReadableByOtherReaders:FileManagerDBusTest.*'

export QT_QPA_PLATFORM=offscreen BRISKO_RESOURCES="$PWD/build-tsan/resources"
# exitcode=0: a suite fails only when a test fails; the reports are counted apart.
export TSAN_OPTIONS="suppressions=$PWD/bench/tsan/qt.supp:halt_on_error=0:second_deadlock_stack=1:history_size=4:exitcode=0"
mkdir -p build-tsan/reports
status=0
for s in "${suites[@]}"; do
  log="build-tsan/reports/$s.log"
  filter="${GTEST_FILTER:-${filters[$s]:-*}}"
  result=passed
  : >"$log"
  for part in "$filter-$spawning" "$spawning"; do
    if [ "$part" = "$spawning" ] && [ -n "${GTEST_FILTER:-}${filters[$s]:-}" ]; then continue; fi
    setarch -R "build-tsan/tests/$s" --gtest_brief=1 --gtest_filter="$part" >>"$log" 2>&1 || { result=FAILED; status=1; }
  done
  read -r ours inside < <(python3 bench/tsan/triage.py "$log" "build-tsan/reports/$s.ours.log")
  printf '%-26s %-6s %4d report(s): %3d touch our code, %4d inside the libraries  %s\n' "$s" "$result" \
    $((ours + inside)) "$ours" "$inside" "build-tsan/reports/$s.ours.log"
done
exit $status
