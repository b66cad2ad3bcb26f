#!/bin/sh
# Times bench_batch against ImageMagick and libvips on the same photos, then runs every
# output format with renaming, and a move with compression, on a few small photos.
#
#   bench/batch/compare.sh <build folder> [work folder]
#
# Needs imagemagick and libvips-tools (apt-get install imagemagick libvips-tools); the
# photos are made with ImageMagick on the first run and kept in the work folder. Set
# PHOTOS to a folder of real JPEGs to time those instead (the R1 lines, JPEG -> PNG and the
# one-core run use it). Each line gives wall time, CPU time and peak memory. ROUNDS=n
# repeats R1, R1 on one pinned core and vipsthumbnail n times, side by side, each round
# with the load average before it (on a shared machine the figures move with the load).
# R1_ONLY=1 stops after those rounds (to compare builds or photo sets on R1 alone);
# PNG_ONLY=1 runs only the JPEG -> PNG rounds; BEFORE=<another build folder> adds that
# build's bench_batch to each JPEG -> PNG round, before this one's.
set -eu
build=${1:?usage: compare.sh <build folder> [work folder]}
work=${2:-/tmp/brisko-bench-batch}
here=$(cd "$(dirname "$0")" && pwd)
driver="$build/bench/batch/bench_batch"
[ -x "$driver" ] || { echo "build bench_batch first (-DBRISKO_BUILD_BENCH=ON)"; exit 2; }

mkdir -p "$work/photos" "$work/small"
if [ -z "${PHOTOS:-}" ] && [ -z "$(ls "$work/photos")" ]; then
  for i in 01 02 03 04 05 06 07 08 09 10 11 12; do
    convert -size 6000x4000 gradient:"rgb(1$i,80,40)"-"rgb(30,1$i,220)" -attenuate 0.4 +noise Gaussian \
      -quality 92 "$work/photos/p$i.jpg" &
  done
  wait
fi
if [ -z "${R1_ONLY:-}" ] && [ -z "$(ls "$work/small")" ]; then
  convert -size 1200x800 gradient:red-blue "$work/small/a.jpg"
  convert -size 800x1200 gradient:green-yellow "$work/small/b.png"
  convert -size 1000x700 gradient:white-black "$work/small/c.tiff"
fi

peak() { /usr/bin/time -f "%e s wall, %U+%S s CPU, peak %M KB" "$@" 2>&1 >/dev/null | tail -1; }
photos=${PHOTOS:-$work/photos}

[ -z "${PNG_ONLY:-}" ] || R1_ONLY= ROUNDS_R1=0
[ -n "${R1_ONLY:-}" ] || [ -n "${PNG_ONLY:-}" ] || for recipe in blur-text-border; do
  rm -rf "$work/out"
  echo "bench_batch $recipe: $(peak "$driver" "$photos" "$here/recipes/$recipe.json" "$work/out")"
done
r1="$here/recipes/resize-1600-jpeg.json"
mkdir -p "$work/vips"
round=0
while [ "$round" -lt "${ROUNDS_R1:-${ROUNDS:-1}}" ]; do
  round=$((round + 1))
  echo "R1 round $round, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  rm -rf "$work/out"
  echo "  bench_batch R1: $(peak "$driver" "$photos" "$r1" "$work/out")"
  rm -rf "$work/out"
  echo "  bench_batch R1 on one core (taskset -c 0): $(peak taskset -c 0 "$driver" "$photos" "$r1" "$work/out")"
  echo "  vipsthumbnail: $(peak sh -c 'vipsthumbnail --size 1600x -o "$2/%s.jpg[Q=80]" "$1"/*.jpg' - "$photos" "$work/vips")"
done

[ -z "${R1_ONLY:-}" ] || exit 0

[ -n "${PNG_ONLY:-}" ] || {
rm -rf "$work/magick" && mkdir -p "$work/magick"
echo "mogrify resize: $(peak mogrify -path "$work/magick" -auto-orient -resize 1600x -quality 80 "$photos"/*.jpg)"
echo "mogrify effects: $(peak mogrify -path "$work/magick" -auto-orient -blur 0x12 -font DejaVu-Sans -fill white -pointsize 300 \
  -annotate +300+3700 "Brisko bench" -bordercolor "#202020" -border 30 -resize 1600x -quality 80 "$work"/photos/*.jpg)"

rm -rf "$work/vips" && mkdir -p "$work/vips"
echo "vips resize loop: $(peak sh -c 'for f in "$1"/*.jpg; do w=$(vipsheader -f width "$f"); vips resize "$f" "$2/$(basename "$f")[Q=80]" "$(echo "1600 / $w" | bc -l)"; done' - "$photos" "$work/vips")"
}

# JPEG -> PNG without the optimiser: ours against vips copy, one vips process per core.
printf '{"outputFormat": 6, "overwrite": true}' > "$work/png.json"
round=0
while [ "$round" -lt "${ROUNDS:-1}" ]; do
  round=$((round + 1))
  rm -rf "$work/png" "$work/vpng" && mkdir -p "$work/vpng"
  echo "JPEG -> PNG round $round, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  if [ -n "${BEFORE:-}" ]; then
    rm -rf "$work/png"
    echo "  bench_batch of $BEFORE JPEG -> PNG: $(peak "$BEFORE/bench/batch/bench_batch" "$photos" "$work/png.json" "$work/png") ($(du -sb "$work/png" | cut -f1) bytes)"
    rm -rf "$work/png"
  fi
  echo "  bench_batch JPEG -> PNG: $(peak "$driver" "$photos" "$work/png.json" "$work/png") ($(du -sb "$work/png" | cut -f1) bytes)"
  echo "  vips copy -> PNG, $(nproc) at once: $(peak sh -c 'ls "$1"/*.jpg | xargs -P"$(nproc)" -I{} sh -c '\''vips copy "$1" "$2/$(basename "$1" .jpg).png"'\'' - {} "$2"' - "$photos" "$work/vpng") ($(du -sb "$work/vpng" | cut -f1) bytes)"
done
[ -z "${PNG_ONLY:-}" ] || exit 0

# Every output format with a rename rule, then a move with the PNG optimiser.
for format in 0 1 2 3 4 5 6 7 8; do
  printf '{"steps":[{"name":"CISepiaTone","parameters":[{"inputIntensity":0.8}]}],"outputFormat":%d,"rename":{"Rename Mode":1,"Add Digit":{"State":true,"As":1,"Starting Index":1,"Increment":1},"Lower Case File Extension":{"State":true}}}' \
    "$format" > "$work/format.json"
  rm -rf "$work/format$format"
  "$driver" "$work/small" "$work/format.json" "$work/format$format" 2>/dev/null | tail -1
  ls "$work/format$format"
done
rm -rf "$work/move" "$work/moved" && cp -r "$work/small" "$work/move" && mkdir -p "$work/xdg"
printf '{"outputFormat":6,"compression":9,"move":true,"rename":{"Rename Mode":1,"Replace Filename":{"State":true,"New Name":"Trip"},"Add Digit":{"State":true,"As":1,"Starting Index":1,"Increment":1}}}' \
  > "$work/move.json"
XDG_DATA_HOME="$work/xdg" "$driver" "$work/move" "$work/move.json" "$work/moved" 2>/dev/null | tail -1
echo "left in the source folder: $(ls "$work/move" | wc -l); written: $(ls "$work/moved" | tr '\n' ' ')"
