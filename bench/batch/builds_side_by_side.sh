#!/bin/sh
# R1 (52 real photos to 1600-wide JPEG q80) and JPEG -> PNG (13 real photos) through
# bench_batch of several builds, in rounds that take turns so that every build sees the
# same machine load, on the cores a taskset list names:
#
#   PIN=2,3 ROUNDS=5 bench/batch/builds_side_by_side.sh <build folder> [more build folders...]
#
# A build given as <folder>@<VARIABLE> runs with that environment variable set to 1 (a
# bench-only switch in that build). The photos are the 12 JPEGs of mate-backgrounds'
# nature folder and Elephants 5640 x 3172; R1 takes each four times. MOVE=1 runs R1 in move
# mode (fresh copies each run, a scratch Trash), MOVE_PNG=1 the PNG run. Each line: wall
# seconds, user + system CPU seconds, peak memory.
set -eu
[ $# -ge 1 ] || { echo "usage: builds_side_by_side.sh <build folder>[@VARIABLE]..."; exit 2; }
work=${WORK:-/tmp/brisko-bench-builds}
here=$(cd "$(dirname "$0")" && pwd)
mate=/usr/share/backgrounds/mate
mkdir -p "$work/r1" "$work/png" "$work/trash"
if [ -z "$(ls "$work/png")" ]; then
  cp "$mate"/nature/*.jpg "$mate/abstract/Elephants_5640x3172.jpg" "$work/png/"
  for i in 1 2 3 4; do
    for f in "$work"/png/*.jpg; do cp "$f" "$work/r1/$i-$(basename "$f")"; done
  done
fi
if [ -n "${MOVE_PNG:-}" ]; then
  printf '{"outputFormat": 6, "move": true}' >"$work/png.json"
else
  printf '{"outputFormat": 6, "overwrite": true}' >"$work/png.json"
fi
if [ -n "${MOVE:-}" ]; then
  printf '{"steps": [{"name": "Resize", "parameters": [{"resizedWidth": 1600}, {"resizedHeight": 1067}]}], "outputFormat": 4, "quality": 0.8163, "move": true}' >"$work/r1.json"
else
  cp "$here/recipes/resize-1600-jpeg.json" "$work/r1.json"
fi
pin=""
[ -z "${PIN:-}" ] || pin="taskset -c $PIN"

run() {  # build[@VARIABLE] photos recipe
  build=${1%@*}
  switch=""
  [ "$build" = "$1" ] || switch="${1#*@}=1"
  rm -rf "$work/out"
  photos=$2
  if { [ -n "${MOVE:-}" ] && [ "$3" = "$work/r1.json" ]; } || { [ -n "${MOVE_PNG:-}" ] && [ "$3" = "$work/png.json" ]; }; then
    rm -rf "$work/moving" "$work/trash"
    cp -r "$2" "$work/moving"
    photos="$work/moving"
  fi
  env $switch XDG_DATA_HOME="$work/trash" /usr/bin/time -f "%e s wall, %U+%S s CPU, peak %M KB" -o "$work/time" \
    $pin "$build/bench/batch/bench_batch" "$photos" "$3" "$work/out" >/dev/null 2>&1 || true
  tail -1 "$work/time"
}

round=0
while [ "$round" -lt "${ROUNDS:-3}" ]; do
  round=$((round + 1))
  echo "round $round, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  for b in "$@"; do echo "  R1 $b: $(run "$b" "$work/r1" "$work/r1.json")"; done
  for b in "$@"; do echo "  PNG $b: $(run "$b" "$work/png" "$work/png.json")"; done
done
