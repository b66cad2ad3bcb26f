#!/usr/bin/env bash
# Builds the project and saves a picture of each screen into docs/, offscreen, from a
# generated batch. The program runs with a home of its own: the user's settings,
# Pictures and Documents folders are never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
TARGETS=BriskoScreenshots scripts/build.sh
# A home under a plain name, so the paths in the pictures read well.
home="${TMPDIR:-/tmp}/brisko-screenshots-home"
rm -rf "$home"
mkdir -p "$home"
trap 'rm -rf "$home"' EXIT
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" XDG_DATA_HOME="$home/.local/share" \
  QT_QPA_PLATFORM=offscreen BRISKO_RESOURCES="$PWD/build/resources" \
  build/shell/BriskoScreenshots "$PWD/docs"
