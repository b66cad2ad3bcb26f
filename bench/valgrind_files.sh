#!/usr/bin/env bash
# Reads picture files as the program does (bench_read_files: header, properties, the
# whole picture, a thumbnail, PNG, JPEG and TIFF written from it) twice, checks that the
# two runs print the same checksums, then once more under valgrind's memcheck, which sees
# what the sanitizers do not: a read of memory that no one wrote (a decoder leaving
# pixels unset, a library's buffer it never filled). Not part of CI; see bench/README.md.
#
#   bench/valgrind_files.sh [file or folder]...
#
# Without arguments it reads the public test files the repository keeps (the fuzz seeds
# of the decoders, the read-only formats and the properties reader, and the decoders'
# test files) and, when it is there, the shared samples folder beside the repository.
# BUILD names the build folder (build-bench, configured with the benchmarks). Exits
# non-zero when the two runs differ or valgrind reports an error reached from our code (a
# frame of ours in its stack); reports wholly inside the libraries are only counted. Each
# file is read by a process of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build-bench}
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  files=(bench/fuzz/corpus/decoders bench/fuzz/corpus/read_only_formats bench/fuzz/corpus/image_properties
         tests/platform/imageio/data)
  for shared in ../shared/samples /work/shared/samples; do
    if [ -d "$shared" ]; then files+=("$shared"); break; fi
  done
fi
launcher=()
if command -v ccache >/dev/null && [ -z "${CCACHE_DISABLE:-}" ]; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" -DBRISKO_BUILD_BENCH=ON \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g -DNDEBUG" >/dev/null
fi
cmake --build "$build" -j"${JOBS:-2}" --target bench_read_files >/dev/null
reader="$build/bench/imageio/bench_read_files"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export QT_QPA_PLATFORM=offscreen

# Each file in a process of its own: a library that stops the process (a camera raw file
# LibRaw aborts on) stops only that file's line.
mapfile -t list < <(for f in "${files[@]}"; do if [ -d "$f" ]; then find "$f" -type f | sort; else echo "$f"; fi; done)
readAll() {  # readAll <output> [command prefix...]
  local output=$1; shift
  : >"$output"
  for f in "${list[@]}"; do
    ( "$@" "$reader" "$f" >>"$output" 2>/dev/null ) 2>/dev/null || echo "$f: the reader stopped" >>"$output"
  done
}
readAll "$out/first.txt" 2>/dev/null
readAll "$out/second.txt" 2>/dev/null
status=0
if cmp -s "$out/first.txt" "$out/second.txt"; then
  echo "two runs: the same checksums for $(wc -l <"$out/first.txt") files"
else
  echo "two runs differ:"; diff "$out/first.txt" "$out/second.txt" | head -20 || true
  status=1
fi

# Smaller translation blocks: dav1d's largest vector routines overflow valgrind's scratch space.
readAll "$out/valgrind.txt" valgrind --tool=memcheck --track-origins=yes --num-callers=40 --error-limit=no --vex-guest-max-insns=20 \
  --log-file="$out/valgrind.%p.log" 2>/dev/null
cat "$out"/valgrind.*.log >"$out/valgrind.log"
if ! cmp -s "$out/first.txt" "$out/valgrind.txt"; then
  echo "the run under valgrind printed other checksums:"; diff "$out/first.txt" "$out/valgrind.txt" | head -20 || true; status=1
fi
python3 - "$out/valgrind.log" "$PWD" <<'PY' || status=1
import re, sys
log, root = sys.argv[1], sys.argv[2]
blocks, current = [], []
for line in open(log, errors="replace"):
    line = re.sub(r"^==\d+== ?", "", line.rstrip("\n"))
    if not line:
        if current: blocks.append(current); current = []
        continue
    current.append(line)
if current: blocks.append(current)
errors = [b for b in blocks if re.match(r"(Invalid|Conditional jump|Use of uninitialised|Syscall param|Mismatched|Source and destination)", b[0])]
# Ours: a frame of a source file in this repository (the libraries' frames name a .so) in
# the stack that made the use, or in the one that allocated a block read past. Where an
# uninitialised value was allocated is not counted: a decoder's thread reading its own
# buffers as it decodes a damaged stream was allocated under our call to decode.
def made(block):
    for i, l in enumerate(block):
        if l.lstrip().startswith("Uninitialised value was created"): return block[:i]
    return block
ours = [b for b in errors if any(re.search(r"\((?!in /)[^():]+\.(cpp|h):\d+\)", l) for l in made(b))]
print(f"valgrind: {len(errors)} error reports, {len(ours)} with a frame in our code")
for b in ours[:10]:
    print("\n".join(b[:16])); print()
sys.exit(1 if ours else 0)
PY
[ $status -eq 0 ] && echo "clean" || echo "see above"
exit $status
