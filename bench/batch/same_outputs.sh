#!/bin/sh
# Runs the same recipes over the same photos with two builds' bench_batch and compares
# every output byte for byte (a PDF less its random /ID) and every photo's status, so a
# change that should make the same pictures can be shown to.
#
#   bench/batch/same_outputs.sh <build before> <build after> <photo folder> [work folder]
#
# The recipes: R1 and the effects recipe of recipes/ (one photo in flight: its "Add Text"
# draws some glyphs differently from run to run when photos are worked on side by side, a
# build against itself included), every output format (PNG with and without the
# optimiser), keeping the original format with and without effects made in the photo's
# storage, a turn with a crop and custom enhance, a shrink on load, and the row-by-row way
# (forced from 1 MP) for a conversion, a shrink and an effect. CORES (default 0-2) pins
# the runs.
set -u
before=${1:?usage: same_outputs.sh <build before> <build after> <photo folder> [work folder]}
after=${2:?}
photos=${3:?}
work=${4:-/tmp/brisko-same-outputs}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work/recipes"
cp "$here/recipes/resize-1600-jpeg.json" "$work/recipes/"
sed 's/"overwrite": true/"overwrite": true, "photosInFlight": 1/' "$here/recipes/blur-text-border.json" \
  > "$work/recipes/blur-text-border-one-at-a-time.json"
sepia='{"name":"CISepiaTone","parameters":[{"inputIntensity":0.8}]}'
for format in 1 2 3 4 5 6 7 8; do
  printf '{"steps":[%s,{"name":"Resize","parameters":[{"resizedWidth":800},{"resizedHeight":600}]}],"outputFormat":%d,"overwrite":true}' \
    "$sepia" "$format" > "$work/recipes/format$format.json"
done
printf '{"outputFormat":6,"overwrite":true}' > "$work/recipes/png.json"
printf '{"outputFormat":0,"overwrite":true}' > "$work/recipes/keep.json"
printf '{"steps":[{"name":"Brightness","parameters":[{"inputBrightness":0.1}]},{"name":"CIGaussianBlur","parameters":[{"inputRadius":0.003}]}],"outputFormat":0,"quality":0.9,"overwrite":true}' \
  > "$work/recipes/keep-in-place.json"
printf '{"steps":[{"name":"Rotate","parameters":[{"angle":90}]},{"name":"CICrop","parameters":[{"inputRectangle":[0.1,0.1,0.5,0.5]}]},{"name":"Custom Enhance","parameters":[]}],"outputFormat":4,"overwrite":true}' \
  > "$work/recipes/turn-crop.json"
printf '{"steps":[{"name":"Resize","parameters":[{"isPercentBaseResize":1},{"percentWidth":25},{"percentHeight":25}]}],"outputFormat":6,"compression":9,"overwrite":true}' \
  > "$work/recipes/shrink-png-optimised.json"
printf '{"outputFormat":6,"rowByRowFromMP":1,"overwrite":true}' > "$work/recipes/rows-png.json"
printf '{"steps":[{"name":"Resize","parameters":[{"resizedWidth":1600},{"resizedHeight":1067}]}],"outputFormat":4,"quality":0.8163,"rowByRowFromMP":1,"overwrite":true}' \
  > "$work/recipes/rows-r1.json"
printf '{"steps":[%s],"outputFormat":5,"rowByRowFromMP":1,"overwrite":true}' "$sepia" > "$work/recipes/rows-sepia.json"

# Each build runs from its own folder, where it finds its resources.
for side in before after; do
  eval build=\$$side
  for recipe in "$work"/recipes/*.json; do
    name=$(basename "$recipe" .json)
    rm -rf "$work/$side/$name" && mkdir -p "$work/$side/$name"
    (cd "$build" && taskset -c "${CORES:-0-2}" ./bench/batch/bench_batch "$photos" "$recipe" "$work/$side/$name" \
      > "$work/$side/$name.log" 2>/dev/null)
  done
done

statuses() { sed -n 's/^ *[0-9]* *[0-9]*% *\(status [0-9]\) *[0-9]* ms *\(.*\)$/\1 \2/p' "$1" | sort; }
files=0 differences=0
for recipe in "$work"/recipes/*.json; do
  name=$(basename "$recipe" .json)
  [ "$(ls "$work/before/$name")" = "$(ls "$work/after/$name")" ] || { echo "$name: other files"; differences=$((differences + 1)); }
  [ "$(statuses "$work/before/$name.log")" = "$(statuses "$work/after/$name.log")" ] ||
    { echo "$name: other statuses"; differences=$((differences + 1)); }
  for file in "$work/before/$name"/*; do
    other="$work/after/$name/$(basename "$file")"
    files=$((files + 1))
    case "$file" in
      *.pdf) sed 's/\/ID \[<[0-9a-f]*><[0-9a-f]*>\]//' "$other" > "$work/other.pdf"
             sed 's/\/ID \[<[0-9a-f]*><[0-9a-f]*>\]//' "$file" | cmp -s - "$work/other.pdf" ;;
      *) cmp -s "$file" "$other" ;;
    esac || { echo "$name/$(basename "$file") differs"; differences=$((differences + 1)); }
  done
done
echo "$files outputs compared, $differences differences"
[ "$differences" -eq 0 ]
