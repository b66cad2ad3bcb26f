#!/usr/bin/env bash
# Builds every test suite with ThreadSanitizer into ./build-tsan, runs every test of each
# and sums up what the checker reported. Not part of CI: the system's Qt is not built with
# ThreadSanitizer, so its own hand-offs between threads (thread pool, queued calls, the slow
# path of its mutex) look like races. Ours are made visible to the checker
# (platform/foundation/HandOver.h); bench/tsan/qt.supp drops Qt's own work on its own
# memory, and bench/tsan/triage.py sets apart the reports that lie wholly inside the
# libraries. bench/README.md says how to read the rest.
#   bench/tsan.sh                          # every suite
#   bench/tsan.sh batch                    # the batch run: runner, pool, writer, run screen,
#                                          # end-to-end
#   bench/tsan.sh test_batch               # only the suites named
#   GTEST_FILTER='BatchRunner.*' bench/tsan.sh test_batch
#
# A suite passes only when GoogleTest's own record says that every test it selects ran and
# passed (bench/tsan/run_suite.py); tests that start another process run alone, each in a
# process of its own. Before the suites, the script checks itself on a suite that dies
# part-way (bench/tsan/ScriptCheck.cpp) and stops if it would not fail it, or if the races
# planted there are not reported as ours, and runs the triage's own test.
set -euo pipefail
cd "$(dirname "$0")/.."
suites=("$@")
declare -A filters=()
if [ "${suites[*]:-}" = batch ]; then
  suites=(test_batch test_shell)
  filters[test_batch]='BatchRunner*:PhotosInFlight*:ResultWriter*:RunScreen*:RunSummary*'
  filters[test_shell]='EndToEnd*'
fi
san="-fsanitize=thread -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null && [ -z "${CCACHE_DISABLE:-}" ]; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
  -DCMAKE_C_FLAGS="$san" -DCMAKE_CXX_FLAGS="$san" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" >/dev/null
# Every suite the build defines, unless some are named.
[ ${#suites[@]} -gt 0 ] || mapfile -t suites < build-tsan/tests/suites.txt
# The build runs the picture generator, itself built with the checker: its reports are
# not what this run is after.
TSAN_OPTIONS="report_bugs=0" \
  nice cmake --build build-tsan -j"${JOBS:-3}" --target brisko_resources tsan_script_check "${suites[@]}"

export QT_QPA_PLATFORM=offscreen BRISKO_RESOURCES="$PWD/build-tsan/resources"
# Reports do not stop a test; a suite's verdict comes from its tests (run_suite.py, which
# also sends the checker's output to files of its own), the reports are counted apart. Each
# process's output ends with how many reports each suppression hid. A bus error is left to
# the program, which handles its own (a file cut while mapped) and lets the rest end the
# process, as its tests expect.
export TSAN_OPTIONS="suppressions=$PWD/bench/tsan/qt.supp:halt_on_error=0:second_deadlock_stack=1:history_size=4"
TSAN_OPTIONS+=":print_suppressions=1:handle_sigbus=0"
reports=build-tsan/reports
rm -rf "$reports"
mkdir -p "$reports"

# The script's own check: the suite that dies after starting a process fails, and without
# that test the rest passes, its process-starting test run alone.
check() {  # <filter> <expected verdict> <expected tests run alone>
  local verdict tests passed skipped alone why
  read -r verdict tests passed skipped alone why < <(python3 bench/tsan/run_suite.py build-tsan/tests/tsan_script_check \
    "$1" "$reports/script-check.log" "$reports/script-check")
  if [ "$verdict" != "$2" ] || [ "$alone" != "$3" ]; then
    echo "bench/tsan.sh cannot be trusted: on '$1' it says '$verdict' ($alone run alone: $why), not '$2' ($3)" >&2
    exit 2
  fi
  echo "$why"
}
python3 -B bench/tsan/test_triage.py 2>/dev/null || { echo "bench/tsan/triage.py fails its own test" >&2; exit 2; }
died=$(check '*' FAILED 0)
check '-*Dies*' passed 1 >/dev/null
echo "Self-check: a suite that dies after starting a process fails ($died)."
# The races planted in the suite reach the reports that touch our code: one in a queued
# call's functor, where the program's workers hand their results back (a suppression that
# names the call's frames hides it), one in a task on a Qt pool, and Qt's code misused by
# two of our threads; work handed over the program's way (platform/foundation/HandOver.h)
# is no report at all.
races="$reports/script-check-races" handed="$reports/script-check-hand-over"
python3 bench/tsan/run_suite.py build-tsan/tests/tsan_script_check '*Planted*' "$races.log" "$reports/script-check" >/dev/null
python3 bench/tsan/triage.py "$races.log" "$races.ours.log" >/dev/null
python3 bench/tsan/run_suite.py build-tsan/tests/tsan_script_check '*HandOver*' "$handed.log" "$reports/script-check" >/dev/null
for planted in queuedCallPlant poolTaskPlant QString::replace; do
  if ! grep -q "$planted" "$races.ours.log"; then
    echo "bench/tsan.sh cannot be trusted: the race planted on $planted is not among the reports touching our code" \
      "($races.log)" >&2
    exit 2
  fi
done
if grep -q "WARNING: ThreadSanitizer" "$handed.log"; then
  echo "bench/tsan.sh cannot be trusted: work handed over through platform/foundation/HandOver.h is reported" \
    "($handed.log)" >&2
  exit 2
fi
echo "Self-check: the races planted in a queued call, a pool task and a QString are reported as ours, a hand-over is not."

printf '%-26s %-6s %5s %6s %7s %5s %7s %7s\n' suite result tests passed skipped alone reports "ours"
status=0
for s in "${suites[@]}"; do
  log="$reports/$s.log"
  : >"$log"
  read -r verdict tests passed skipped alone why < <(python3 bench/tsan/run_suite.py "build-tsan/tests/$s" \
    "${GTEST_FILTER:-${filters[$s]:-*}}" "$log" "$reports/$s")
  [ "$verdict" = passed ] || status=1
  read -r ours inside < <(python3 bench/tsan/triage.py "$log" "$reports/$s.ours.log")
  printf '%-26s %-6s %5d %6d %7d %5d %7d %7d  %s\n' "$s" "$verdict" "$tests" "$passed" "$skipped" "$alone" \
    $((ours + inside)) "$ours" "$why"
done
echo "Logs in $reports/<suite>.log, the reports that touch our code in $reports/<suite>.ours.log."
exit $status
