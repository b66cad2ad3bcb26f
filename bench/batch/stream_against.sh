#!/bin/sh
# Time and peak memory of single large photos (JPEG or PNG) converted without steps to
# JPEG and to PNG, and of R1, against libvips, on pinned cores, rounds alternating so every
# contender sees the same load:
#
#   CPUS=2,3 ROUNDS=3 bench/batch/stream_against.sh <build> [before build] [photo...]
#
# A "before build" of `usual` runs <build> itself with the row-by-row way turned off
# (`"rowByRowFromMP": 1e9` in the recipe): every photo made the usual way.
# - each photo alone: bench_batch on a folder holding only it (`{"outputFormat": 4}`,
#   quality 0.82 as a run without the quality switch writes, or `{"outputFormat": 6}`),
#   against `vips copy in out.jpg[Q=82]` and `vips copy in out.png`;
# - R1 (the photos of $R1, resized to 1600 x 1067 with recipes/resize-1600-jpeg.json)
#   against vipsthumbnail --size 1600x at Q=80, one vipsthumbnail process per core
#   (xargs -P); R1= skips it.
# Every command runs under `taskset -c $CPUS`, libvips with as many threads as those CPUs
# (VIPS_CONCURRENCY; left to itself it starts one per core of the machine, which on two
# pinned cores doubled its peak). Lines give wall time, CPU time (user + system) and the peak
# resident memory of all the command's processes together, sampled by tree_peak.py (the
# largest single process's own peak after it). An empty "before" skips that build.
# FORMATS lists the outputs (default "jpg png"); R1_ONLY=1 runs R1 alone. The default photos are
# /tmp/shrink-big/e{12,24,48,100}.jpg (see bench/README.md for how they are made).
set -eu
build=${1:?usage: stream_against.sh <build> [before build] [photo...]}
before=${2:-}
[ $# -ge 2 ] && shift 2 || shift $#
[ $# -gt 0 ] || set -- /tmp/shrink-big/e12.jpg /tmp/shrink-big/e24.jpg /tmp/shrink-big/e48.jpg /tmp/shrink-big/e100.jpg
cpus=${CPUS:-2,3}
cores=$(taskset -c "$cpus" nproc)
rounds=${ROUNDS:-3}
r1=${R1-/tmp/r1-52}
work=${WORK:-/tmp/brisko-bench-stream}
here=$(cd "$(dirname "$0")/../.." && pwd)
export BRISKO_RESOURCES=${BRISKO_RESOURCES:-$here/resources}
mkdir -p "$work"
printf '{"outputFormat": 4, "overwrite": true}' > "$work/jpg.json"
printf '{"outputFormat": 6, "overwrite": true}' > "$work/png.json"
printf '{"outputFormat": 4, "overwrite": true, "rowByRowFromMP": 1e9}' > "$work/usual-jpg.json"
printf '{"outputFormat": 6, "overwrite": true, "rowByRowFromMP": 1e9}' > "$work/usual-png.json"
export VIPS_CONCURRENCY=${VIPS_CONCURRENCY:-$cores}
peak() { python3 "$here/bench/batch/tree_peak.py" taskset -c "$cpus" "$@"; }
ours() {  # ours <build> <folder> <recipe>
  rm -rf "$work/out"
  peak "$1/bench/batch/bench_batch" "$2" "$3" "$work/out"
}
before() {  # before <folder> <format>: the build before, or this one made the usual way
  if [ "$before" = usual ]; then ours "$build" "$1" "$work/usual-$2.json"; else ours "$before" "$1" "$work/$2.json"; fi
}
round=0
while [ "$round" -lt "$rounds" ]; do
  round=$((round + 1))
  for photo in "$@"; do
    [ -z "${R1_ONLY:-}" ] || break
    name=$(basename "$photo")
    rm -rf "$work/in" && mkdir -p "$work/in" && ln -s "$photo" "$work/in/"
    for fmt in ${FORMATS:-jpg png}; do
      echo "round $round, $name -> $fmt, load $(cut -d' ' -f1-3 /proc/loadavg)"
      echo "  ours:   $(ours "$build" "$work/in" "$work/$fmt.json")"
      [ -z "$before" ] || echo "  before: $(before "$work/in" "$fmt")"
      opt=; [ "$fmt" = jpg ] && opt='[Q=82]'
      rm -f "$work/vips.$fmt"
      echo "  vips:   $(peak vips copy "$photo" "$work/vips.$fmt$opt")"
    done
  done
  [ -n "$r1" ] || continue
  echo "round $round, R1 on $r1, load $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "  ours:   $(ours "$build" "$r1" "$here/bench/batch/recipes/resize-1600-jpeg.json")"
  [ -z "$before" ] || [ "$before" = usual ] || echo "  before: $(ours "$before" "$r1" "$here/bench/batch/recipes/resize-1600-jpeg.json")"
  rm -rf "$work/vt" && mkdir -p "$work/vt"
  echo "  vipsthumbnail, $cores at once: $(peak sh -c 'ls "$1"/*.jpg | xargs -P"$3" -n 4 vipsthumbnail --size 1600x -o "$2/%s.jpg[Q=80]"' - "$r1" "$work/vt" "$cores")"
done
