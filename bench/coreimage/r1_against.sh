#!/bin/sh
# R1 (photos resized to 1600 wide, saved as JPEG) with two builds, alternately, in one
# session, so that both see the same machine load: wall time, CPU time and peak memory
# of each run, and the load average before each pair.
#
#   bench/coreimage/r1_against.sh <build A> <build B> [runs] [photo folder]
#
# PIN=<cpu> runs both on that one core (taskset), which a busy machine disturbs less.
# To time the resampler against the area average it replaced, build B is the same commit
# with Utils::scaleImage put back to QImage::scaled(..., Qt::SmoothTransformation) on an
# ARGB32_Premultiplied copy (bench only; see bench/README.md).
set -eu
a=${1:?usage: r1_against.sh <build A> <build B> [runs] [photo folder]}
b=${2:?usage: r1_against.sh <build A> <build B> [runs] [photo folder]}
runs=${3:-3}
photos=${4:-${PHOTOS:-/usr/share/backgrounds/mate/nature}}
here=$(cd "$(dirname "$0")/../.." && pwd)
recipe="$here/bench/batch/recipes/resize-1600-jpeg.json"
export BRISKO_RESOURCES=${BRISKO_RESOURCES:-$here/resources}
out=${WORK:-/tmp/brisko-bench-r1}
pin=${PIN:+taskset -c $PIN}
run() { rm -rf "$out"; /usr/bin/time -f "%e s wall, %U+%S s CPU, peak %M KB" $pin "$1/bench/batch/bench_batch" "$photos" "$recipe" "$out" 2>&1 >/dev/null | tail -1; }
i=1
while [ "$i" -le "$runs" ]; do
  echo "run $i, load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "  A: $(run "$a")"
  echo "  B: $(run "$b")"
  i=$((i + 1))
done
