#!/bin/sh
# Camera raw photos to 1600-wide JPEGs through several builds' bench_phone_raw (--convert:
# COUNT 24 MP DNGs one after another, as a run makes them), in rounds that take turns so
# that every build sees the same machine load, on the cores a taskset list names:
#
#   PIN=2,3 ROUNDS=5 PSS_ROUNDS=2 COUNT=10 bench/imageio/raw_helper_compare.sh <build folder>...
#
# ROUNDS timed rounds, then PSS_ROUNDS rounds with the program's and its helpers' PSS
# sampled every 10 ms (the sampling costs time, so those rounds are not timed). Each line
# is bench_phone_raw's own: wall and processor time (program and helpers), minor faults,
# and PSS peak and mean. The DNGs are made once in WORK.
set -eu
[ $# -ge 1 ] || { echo "usage: raw_helper_compare.sh <build folder>..."; exit 2; }
work=${WORK:-/tmp/brisko-bench-raw-helper}
pin=""
[ -z "${PIN:-}" ] || pin="taskset -c $PIN"
count=${COUNT:-10}
export QT_QPA_PLATFORM=offscreen
rounds() {  # label count [pss] -- builds...
  label=$1 n=$2 pss=$3
  shift 3
  round=0
  while [ "$round" -lt "$n" ]; do
    round=$((round + 1))
    echo "$label $round, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    for b in "$@"; do
      echo "  $b: $($pin "$b/bench/imageio/bench_phone_raw" --convert "$work" "$count" $pss 2>/dev/null | grep '^convert')"
    done
  done
}
rounds round "${ROUNDS:-5}" "" "$@"
rounds "PSS round" "${PSS_ROUNDS:-2}" pss "$@"
