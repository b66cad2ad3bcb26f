#!/bin/sh
# bench_batch against libvips on the same cores, peers one process per core, in rounds
# that take turns (this build, the build before when given, then the peer), so that all
# see the same machine load:
#
#   CASES="png small blur" ROUNDS=5 PIN=2,3 BEFORE=<earlier build> \
#     bench/batch/against_on_cores.sh <build folder> [work folder]
#
#   png    JPEG -> PNG of the photos in PHOTOS (default: the 13 JPEGs of mate-backgrounds'
#          nature folder and Elephants 5640 x 3172), against `vips copy x.jpg x.png`;
#   small  COUNTS (default "1000 2000") photos of 640 x 480 made from those, to JPEG q80,
#          against vipsthumbnail (the files split between the processes);
#   blur   a Gaussian blur of sigma 10 of a 5120 x 2880 JPEG made from Elephants, to JPEG
#          q90 and to PNG, against `vips gaussblur` (to JPEG also at the settings the
#          recipe writes: Q=88, 4:2:0).
#
# Every run writes into a folder of its own, made empty for it; the runs' folders are deleted
# only once all rounds are over. On ext4 without a journal (as on this machine's disk) each
# new file's inode is looked for past every inode deleted in the last 30 seconds: a run right
# after the deletion of the run before's 2,000 files spent 15 % of its samples (most of its
# kernel time) stepping over them, and the contender that came second in a round paid for it.
#
# PIN is a taskset CPU list (unset: every core); the peers run as many processes as it
# names CPUs. Each line gives wall time, user + system CPU time, peak memory, and the
# bytes written (the run's own time without its set-up, as bench_batch prints it, follows
# in brackets). Needs libvips-tools and ImageMagick (`convert`, for the small photos).
set -eu
build=${1:?usage: against_on_cores.sh <build folder> [work folder]}
work=${2:-/tmp/brisko-bench-cores}
driver="$build/bench/batch/bench_batch"
[ -x "$driver" ] || { echo "build bench_batch first (-DBRISKO_BUILD_BENCH=ON)"; exit 2; }
mkdir -p "$work"

if [ -n "${PIN:-}" ]; then
  pin="taskset -c $PIN"
  cores=$(taskset -c "$PIN" nproc)
else
  pin=""
  cores=$(nproc)
fi
mate=/usr/share/backgrounds/mate
photos=${PHOTOS:-$work/photos}
if [ -z "${PHOTOS:-}" ] && [ ! -d "$photos" ]; then
  mkdir -p "$photos"
  cp "$mate"/nature/*.jpg "$mate/abstract/Elephants_5640x3172.jpg" "$photos/"
fi

# libvips left to itself starts a thread for every core of the machine: on two pinned cores
# eight threads, which doubled its peak. It gets as many as the CPUs it runs on.
export VIPS_CONCURRENCY=${VIPS_CONCURRENCY:-$cores}

builds="$build"
[ -z "${BEFORE:-}" ] || builds="$BEFORE $build"

# A fresh, empty output folder for each run (see above); a session's left-overs go first,
# and the rounds start once their inodes are no longer recent.
outs="$work/outputs"
if [ -d "$outs" ]; then
  rm -rf "$outs"
  sleep 31
fi
mkdir -p "$outs"
trap 'rm -rf "$outs"' EXIT
made=0
fresh() {  # sets $out
  made=$((made + 1))
  out="$outs/$made"
}

# Runs a command, prints its figures and the bytes of a folder or file.
run() {
  out=$1
  shift

  /usr/bin/time -f "%e s wall, %U+%S s CPU, peak %M KB" -o "$work/time" "$@" >"$work/stdout" 2>/dev/null || true
  bytes=$(du -sb "$out" 2>/dev/null | cut -f1)
  own=$(grep -o 'run: [0-9]* ms' "$work/stdout" || true)
  echo "$(tail -1 "$work/time"), ${bytes:-0} bytes${own:+ ($own)}"
}

printf '{"outputFormat": 6, "overwrite": true}' >"$work/png.json"
printf '{"outputFormat": 4, "quality": 0.8163, "overwrite": true}' >"$work/small.json"
printf '{"steps": [{"name": "CIGaussianBlur", "parameters": [{"inputRadius": 0.001953125}]}], "outputFormat": 4, "quality": 0.9, "overwrite": true}' >"$work/blurjpg.json"
printf '{"steps": [{"name": "CIGaussianBlur", "parameters": [{"inputRadius": 0.001953125}]}], "outputFormat": 6, "overwrite": true}' >"$work/blurpng.json"

for c in ${CASES:-png small blur}; do
  case $c in
  small)
    for n in ${COUNTS:-1000 2000}; do
      [ -d "$work/small$n" ] && continue
      mkdir -p "$work/small-base" "$work/small$n"
      [ -n "$(ls "$work/small-base")" ] || for f in "$photos"/*.jpg; do
        convert "$f" -resize '640x480!' -quality 90 "$work/small-base/$(basename "$f")"
      done
      i=0
      while [ $i -lt "$n" ]; do
        for f in "$work"/small-base/*.jpg; do
          [ $i -lt "$n" ] || break
          cp "$f" "$work/small$n/p$(printf %05d $i).jpg"
          i=$((i + 1))
        done
      done
    done
    ;;
  blur)
    if [ ! -f "$work/blur/photo.jpg" ]; then
      mkdir -p "$work/blur"
      vips resize "$mate/abstract/Elephants_5640x3172.jpg" "$work/blur.v" 0.9078 --vscale 0.90794
      vips copy "$work/blur.v" "$work/blur/photo.jpg[Q=92]"
      rm -f "$work/blur.v"
    fi
    ;;
  esac
done

round=0
while [ "$round" -lt "${ROUNDS:-1}" ]; do
  round=$((round + 1))
  echo "round $round, ${PIN:+cores $PIN, }load average $(cut -d' ' -f1-3 /proc/loadavg)"
  for c in ${CASES:-png small blur}; do
    case $c in
    png)
      for b in $builds; do
        fresh
        echo "  JPEG -> PNG, $b: $(run "$out" $pin "$b/bench/batch/bench_batch" "$photos" "$work/png.json" "$out")"
      done
      fresh && mkdir -p "$out"
      echo "  JPEG -> PNG, vips copy, $cores at once: $(run "$out" $pin sh -c 'ls "$1"/*.jpg | xargs -P"$3" -I{} sh -c '\''vips copy "$1" "$2/$(basename "$1" .jpg).png"'\'' - {} "$2"' - "$photos" "$out" "$cores")"
      ;;
    small)
      for n in ${COUNTS:-1000 2000}; do
        for b in $builds; do
          fresh
          echo "  $n small photos, $b: $(run "$out" $pin "$b/bench/batch/bench_batch" "$work/small$n" "$work/small.json" "$out")"
        done
        fresh && mkdir -p "$out"
        echo "  $n small photos, vipsthumbnail, $cores at once: $(run "$out" $pin sh -c 'ls "$1"/*.jpg | xargs -P"$3" -n"$4" vipsthumbnail --size 640x480 -o "$2/%s.jpg[Q=80]"' - "$work/small$n" "$out" "$cores" $(((n + cores - 1) / cores)))"
      done
      ;;
    blur)
      for format in jpg png; do
        for b in $builds; do
          rm -rf "$work/blur-out"
          echo "  blur sigma 10 to $format, $b: $(run "$work/blur-out" $pin "$b/bench/batch/bench_batch" "$work/blur" "$work/blur$format.json" "$work/blur-out")"
        done
        out="$work/vblur.$format"
        target=$out
        [ "$format" = png ] || target="$out[Q=90]"
        rm -f "$out"
        echo "  blur sigma 10 to $format, vips gaussblur: $(run "$out" $pin vips gaussblur "$work/blur/photo.jpg" "$target" 10)"
        # The recipe's quality 0.9 is written at 88 with 4:2:0 chroma; vips at Q=90 keeps
        # full chroma. The same settings for vips, for a like-for-like time and size:
        if [ "$format" = jpg ]; then
          rm -f "$out"
          echo "  blur sigma 10 to $format, vips gaussblur Q=88 4:2:0: $(run "$out" $pin vips gaussblur "$work/blur/photo.jpg" "$out[Q=88,subsample-mode=on]" 10)"
        fi
      done
      ;;
    esac
  done
done
