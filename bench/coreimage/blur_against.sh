#!/bin/sh
# Gaussian blurs of whole photos against vips gaussblur, side by side in one session so
# that both see the same machine load: load the JPEG, blur it with sigma S, write it as
# JPEG at quality 90. Prints wall time, CPU time and peak resident memory of each run.
#
#   bench/coreimage/blur_against.sh <build> [other build] [sigmas] [photos...]
#
# With a second build (the commit before a change, say) its bench_coreimage runs beside
# the first. Needs libvips-tools (apt-get install libvips-tools; not a project dependency).
set -eu
a=${1:?usage: blur_against.sh <build> [other build] [sigmas] [photos...]}
b=${2:-}
sigmas=${3:-10 30 100}
[ $# -gt 3 ] && shift 3 || set -- /usr/share/backgrounds/mate/abstract/Elephants_5640x3172.jpg
out=${WORK:-/tmp/brisko-bench-blur}
mkdir -p "$out"
run() { /usr/bin/time -f "%e s wall, %U+%S s CPU, peak %M KB" "$@" 2>&1 >/dev/null | tail -1; }
for photo in "$@"; do
  for s in $sigmas; do
    echo "$(basename "$photo") sigma $s, load $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "  ours:  $(run "$a/bench/coreimage/bench_coreimage" --photo "$photo" --radius "$s" --out "$out/ours.jpg")"
    [ -z "$b" ] || echo "  other: $(run "$b/bench/coreimage/bench_coreimage" --photo "$photo" --radius "$s" --out "$out/other.jpg")"
    echo "  vips:  $(run vips gaussblur "$photo" "$out/vips.jpg[Q=90]" "$s")"
  done
done
