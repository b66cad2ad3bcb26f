#!/bin/sh
# How close a shrink comes to the ideal: real photos shrunk to 50, 30, 25 and 12.5 % by the
# batch run (bench_batch, a lone "Resize" step, PNG output so nothing but the shrink is
# measured) and by vipsthumbnail, each scored by PSNR against ImageMagick's Lanczos kept
# at 16 bits:
#
#     convert in.jpg -filter Lanczos -resize WxH! -depth 16 ref.png
#
# (ImageMagick 6 truncates its 16-bit values when it saves 8 bits, half a level dark on
# average, which would reward a resampler that rounds down; see bench/README.md.) The
# `ceiling` column is that reference rounded to 8 bits: what any 8-bit picture can reach.
#
#   bench/batch/shrink_against.sh <build folder> [before build folder] [photo...]
#
# Both builds need -DBRISKO_BUILD_BENCH=ON; an empty "before" skips that column. The default
# photos are three of mate-backgrounds: Aqua (2560 x 1600, baseline), Elephants 5640 x 3172
# (progressive) and a copy of that with a restart marker in every MCU row, as cameras
# write them (cjpeg -restart 1, quality 92), which the program decodes reduced in bands.
set -eu
build=${1:?usage: shrink_against.sh <build folder> [before build folder] [photo...]}
before=${2:-}
[ $# -ge 2 ] && shift 2 || shift $#
work=${WORK:-/tmp/brisko-bench-shrink}
rm -rf "$work" && mkdir -p "$work"
if [ $# -eq 0 ]; then
  bg=/usr/share/backgrounds/mate
  djpeg "$bg/abstract/Elephants_5640x3172.jpg" | cjpeg -quality 92 -restart 1 > "$work/ElephantsRestarts.jpg"
  set -- "$bg/nature/Aqua.jpg" "$bg/abstract/Elephants_5640x3172.jpg" "$work/ElephantsRestarts.jpg"
fi
here=$(cd "$(dirname "$0")/../.." && pwd)
export BRISKO_RESOURCES=${BRISKO_RESOURCES:-$here/resources}
psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 | cut -d' ' -f1; }
# ours <build> <photo> <w> <h> <out.png>
ours() {
  rm -rf "$work/in" "$work/out" && mkdir -p "$work/in" "$work/out"
  ln -s "$2" "$work/in/$(basename "$2")"
  printf '{"steps": [{"name": "Resize", "parameters": [{"resizedWidth": %s}, {"resizedHeight": %s}]}], "outputFormat": 6, "overwrite": true}' \
    "$3" "$4" > "$work/recipe.json"
  "$1/bench/batch/bench_batch" "$work/in" "$work/recipe.json" "$work/out" > /dev/null
  mv "$work"/out/*.png "$5"
}
printf '%-20s %-6s %-11s %8s %8s %8s %8s\n' photo scale size ours before vips ceiling
for photo in "$@"; do
  name=$(basename "$photo" .jpg)
  size=$(identify -format '%w %h' "$photo")
  W=${size% *}; H=${size#* }
  for pct in 50 30 25 12.5; do
    w=$(echo "($W * $pct / 100 + 0.5) / 1" | bc); h=$(echo "($H * $pct / 100 + 0.5) / 1" | bc)
    convert "$photo" -filter Lanczos -resize "${w}x${h}!" -depth 16 "$work/ref.png"
    convert "$work/ref.png" -evaluate add 128 -depth 8 "$work/ceiling.png"
    ours "$build" "$photo" "$w" "$h" "$work/ours.png"
    b=-
    if [ -n "$before" ]; then ours "$before" "$photo" "$w" "$h" "$work/before.png"; b=$(psnr "$work/before.png" "$work/ref.png"); fi
    vipsthumbnail "$photo" --size "${w}x${h}!" -o "$work/vips.png"
    printf '%-20s %-6s %-11s %8s %8s %8s %8s\n' "$name" "$pct%" "${w}x${h}" "$(psnr "$work/ours.png" "$work/ref.png")" "$b" \
      "$(psnr "$work/vips.png" "$work/ref.png")" "$(psnr "$work/ceiling.png" "$work/ref.png")"
  done
done
