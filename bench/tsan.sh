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
# passed (bench/tsan/run_suite.py; tests that start another process run alone, each in a
# process of its own) and the checker left no report touching our code (bench/tsan/triage.py);
# the run fails if a suite does, and prints every such report. Before the suites, the script
# checks itself on a suite that dies part-way and on races of each shape planted in our code
# (bench/tsan/ScriptCheck.cpp), and stops if it would pass any of them, and runs the triage's
# own test.
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

# How a run of a suite is judged: it fails when any test of it did not run and pass, or when
# the checker left a report that touches our code (bench/tsan/triage.py). Prints
# "<verdict> <tests> <passed> <skipped> <alone> <reports> <ours> <why>"; the reports that
# touch our code go to <log>.ours.log.
judge() {  # <binary> <filter> <log> <workdir>
  local verdict tests passed skipped alone why ours inside
  read -r verdict tests passed skipped alone why < <(python3 bench/tsan/run_suite.py "$1" "$2" "$3" "$4")
  read -r ours inside < <(python3 bench/tsan/triage.py "$3" "${3%.log}.ours.log")
  if [ "$verdict" = passed ] && [ "$ours" -gt 0 ]; then
    verdict=FAILED
    why="$ours report(s) touching our code${why:+; $why}"
  fi
  echo "$verdict $tests $passed $skipped $alone $((ours + inside)) $ours $why"
}

# The script's own check: the suite that dies after starting a process fails, and without
# that test the rest passes, its process-starting test run alone.
check() {  # <filter> <expected verdict> <expected tests run alone>
  local verdict tests passed skipped alone count ours why
  read -r verdict tests passed skipped alone count ours why < <(judge build-tsan/tests/tsan_script_check \
    "$1" "$reports/script-check.log" "$reports/script-check")
  if [ "$verdict" != "$2" ] || [ "$alone" != "$3" ]; then
    echo "bench/tsan.sh cannot be trusted: on '$1' it says '$verdict' ($alone run alone: $why), not '$2' ($3)" >&2
    exit 2
  fi
  echo "$why"
}
python3 -B bench/tsan/test_triage.py 2>/dev/null || { echo "bench/tsan/triage.py fails its own test" >&2; exit 2; }
died=$(check '-*Planted*' FAILED 0)
check '-*Planted*:*Dies*' passed 1 >/dev/null
echo "Self-check: a suite that dies after starting a process fails ($died)."
# Each race or misuse planted in the suite fails it, as a report touching our code that names
# the plant: two workers; a worker's write and an unrelated hand-over after it (one lock for
# every hand-over hid it); a mutex misused in a queued call (a suppression of Qt's library
# for mutexes hid it); a queued call's functor (a suppression naming the call's frames hid
# it); a task on a Qt pool; Qt's string misused by two of our threads. Work handed over the
# program's way (platform/foundation/HandOver.h) is no report touching our code (Qt's own
# event, made by the sender and freed by the receiver, is the triage's: Qt's queue orders it).
for plant in PlantedRaceBetweenTwoWorkers:workerRacePlant PlantedRaceBesideAnUnrelatedHandOver:unrelatedHandOverPlant \
  PlantedMutexMisuseInAQueuedCall:mutexMisusePlant PlantedRaceInAQueuedCall:queuedCallPlant \
  PlantedRaceInAPoolTask:poolTaskPlant PlantedMisuseOfAQString:QString::replace; do
  name=${plant%%:*} mark=${plant#*:} log="$reports/script-check-$name.log"
  read -r verdict tests passed skipped alone reports_ ours why < <(judge build-tsan/tests/tsan_script_check \
    "*.$name" "$log" "$reports/script-check")
  if [ "$verdict" != FAILED ] || [ "$ours" -lt 1 ] || ! grep -q "$mark" "${log%.log}.ours.log"; then
    echo "bench/tsan.sh cannot be trusted: the suite with $name says '$verdict' with $ours report(s) touching our" \
      "code, not a failure on a report naming $mark ($log)" >&2
    exit 2
  fi
done
handed="$reports/script-check-hand-over.log"
read -r verdict tests passed skipped alone reports_ ours why < <(judge build-tsan/tests/tsan_script_check \
  '*.HandOverThroughAQueuedCallAndAPool' "$handed" "$reports/script-check")
if [ "$verdict" != passed ]; then
  echo "bench/tsan.sh cannot be trusted: work handed over through platform/foundation/HandOver.h is reported" \
    "as touching our code, or fails ($why; $handed)" >&2
  exit 2
fi
echo "Self-check: each race and misuse planted fails its suite as a report touching our code; a hand-over is no report."

printf '%-26s %-6s %5s %6s %7s %5s %7s %7s\n' suite result tests passed skipped alone reports "ours"
status=0
failed_suites=()
for s in "${suites[@]}"; do
  log="$reports/$s.log"
  : >"$log"
  read -r verdict tests passed skipped alone reports_ ours why < <(judge "build-tsan/tests/$s" \
    "${GTEST_FILTER:-${filters[$s]:-*}}" "$log" "$reports/$s")
  if [ "$verdict" != passed ]; then
    status=1
    failed_suites+=("$s")
  fi
  printf '%-26s %-6s %5d %6d %7d %5d %7d %7d  %s\n' "$s" "$verdict" "$tests" "$passed" "$skipped" "$alone" \
    "$reports_" "$ours" "$why"
done
# Every report touching our code, in full: each is to be read, and fails the run until it is
# mended or the triage is taught, with reason, to set it apart.
for s in "${failed_suites[@]}"; do
  if [ -s "$reports/$s.ours.log" ]; then
    echo
    echo "==== $s: reports touching our code ($reports/$s.ours.log)"
    cat "$reports/$s.ours.log"
  fi
done
echo "Logs in $reports/<suite>.log, the reports that touch our code in $reports/<suite>.ours.log."
[ $status = 0 ] && echo "passed" || echo "FAILED"
exit $status
