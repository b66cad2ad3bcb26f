#!/usr/bin/env bash
# Installs what is missing, builds the application (the test programs are left to
# scripts/test.sh), and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
TARGETS=BriskoPhotos scripts/build.sh
exec build/shell/BriskoPhotos "$@"
