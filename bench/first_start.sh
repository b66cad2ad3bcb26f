#!/usr/bin/env bash
# Times a first start: a fresh clone's scripts/run.sh, pinned to two cores and without the
# compiler cache, until the main window shows on a virtual X server; then closes it. The
# program runs with an empty home of its own.
#   bench/first_start.sh [branch]      # clones this repository's branch (default: current)
# CPUS names the two cores (default 0,1).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
branch="${1:-$(git -C "$repo" rev-parse --abbrev-ref HEAD)}"
work=$(mktemp -d /tmp/brisko-first-start-XXXXXX)
trap 'rm -rf "$work"' EXIT
git clone -q -b "$branch" "$repo" "$work/clone"
mkdir "$work/home"
uptime
cat >"$work/inside.sh" <<'EOF'
#!/usr/bin/env bash
work=$1
openbox >/dev/null 2>&1 &
start=$(date +%s.%N)
( cd "$work/clone" && HOME="$work/home" CCACHE_DISABLE=1 exec /usr/bin/time -o "$work/time" \
    -f "processor time: %U s user, %S s sys" taskset -c "${CPUS:-0,1}" scripts/run.sh ) >"$work/run.log" 2>&1 &
run=$!
until xdotool search --onlyvisible --name "Brisko" >/dev/null 2>&1; do
  sleep 1
  kill -0 $run 2>/dev/null || { echo "scripts/run.sh ended before a window showed:"; tail -20 "$work/run.log"; exit 1; }
done
echo "window after $(python3 -c "print(round($(date +%s.%N) - $start, 1))") s"
app=$(xdotool search --onlyvisible --name "Brisko" getwindowpid | head -1)
kill "$app"
wait $run 2>/dev/null
grep "processor time" "$work/time"
kill %1 2>/dev/null
EOF
chmod +x "$work/inside.sh"
xvfb-run -a -s '-screen 0 1600x1000x24' "$work/inside.sh" "$work"
uptime
