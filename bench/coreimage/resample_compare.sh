#!/bin/sh
# Quality of the program's resampler against ImageMagick's default -resize (Lanczos when
# shrinking, Mitchell when enlarging), beside libvips' default `vips resize`, on real
# photos: PSNR of each result against ImageMagick's, for a shrink to 25 %, to 1600 wide
# and an enlargement 2x.
#
#   bench/coreimage/resample_compare.sh <build folder> [photo...]
#
# The reference is ImageMagick's result kept at 16 bits. Saved at 8 bits, ImageMagick 6
# truncates its 16-bit values instead of rounding them (every pixel ends up half a level
# darker on average), so a score against that file rewards a resampler that rounds down;
# the columns after the first bar give those scores all the same (ours, vips), for
# comparison. `ceiling` is ImageMagick's own result rounded to 8 bits: what a perfect
# 8-bit copy of the reference scores against each reference.
#
# Needs imagemagick and libvips-tools; the default photos are those of mate-backgrounds.
set -eu
build=${1:?usage: resample_compare.sh <build folder> [photo...]}
shift
[ $# -gt 0 ] || set -- /usr/share/backgrounds/mate/nature/*.jpg
tool="$build/bench/coreimage/bench_resample"
work=${WORK:-/tmp/brisko-bench-resample}
mkdir -p "$work"
psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 | cut -d' ' -f1; }
printf '%-14s %-8s %8s %8s %8s %8s %8s | %8s %8s %8s | %s\n' photo case ours linear box vips ceiling ours8 vips8 ceiling8 "ms(ours/box)"
for photo in "$@"; do
  name=$(basename "$photo" .jpg)
  size=$(identify -format '%w %h' "$photo")
  W=${size% *}; H=${size#* }
  for c in quarter 1600 double; do
    case $c in
      quarter) w=$(( (W + 2) / 4 )); h=$(( (H + 2) / 4 )) ;;
      1600) w=1600; h=$(( (H * 1600 + W / 2) / W )) ;;
      double) w=$((W * 2)); h=$((H * 2)) ;;
    esac
    [ "$c" = double ] && [ "$W" -gt 2000 ] && continue
    [ "$w" = "$W" ] && [ "$h" = "$H" ] && continue
    convert "$photo" -resize "${w}x${h}!" -depth 16 "$work/ref.png"
    convert "$photo" -resize "${w}x${h}!" "$work/ref8.png"
    convert "$work/ref.png" -evaluate add 128 -depth 8 "$work/ceiling.png"
    vips resize "$photo" "$work/vips.png" "$(echo "$w / $W" | bc -l)" --vscale "$(echo "$h / $H" | bc -l)"
    lt=$("$tool" "$photo" $w $h "$work/l.png" lanczos | sed 's/.*: //; s/ ms.*//')
    "$tool" "$photo" $w $h "$work/lin.png" linear >/dev/null
    bt=$("$tool" "$photo" $w $h "$work/b.png" box | sed 's/.*: //; s/ ms.*//')
    printf '%-14s %-8s %8s %8s %8s %8s %8s | %8s %8s %8s | %s\n' "$name" "$c" "$(psnr "$work/l.png" "$work/ref.png")" \
      "$(psnr "$work/lin.png" "$work/ref.png")" "$(psnr "$work/b.png" "$work/ref.png")" \
      "$(psnr "$work/vips.png" "$work/ref.png")" "$(psnr "$work/ceiling.png" "$work/ref.png")" \
      "$(psnr "$work/l.png" "$work/ref8.png")" "$(psnr "$work/vips.png" "$work/ref8.png")" \
      "$(psnr "$work/ceiling.png" "$work/ref8.png")" "$lt/$bt"
  done
done
