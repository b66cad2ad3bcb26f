#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is missing.
set -euo pipefail
pkgs=(g++ cmake ninja-build pkg-config
      qt6-base-dev libgl-dev
      libheif-dev libde265-dev libwebp-dev libraw-dev libseccomp-dev
      libjpeg62-turbo-dev libpng-dev zlib1g-dev libdeflate-dev libtiff-dev libgif-dev libopenjp2-7-dev
      libexiv2-dev libicu-dev libqpdf-dev libsqlite3-dev liblcms2-dev
      qt6-image-formats-plugins
      libgs-common icc-profiles-free colord-data imagemagick-6-doc mate-backgrounds
      libgtest-dev libgmock-dev fonts-dejavu-core locales poppler-utils libtiff-tools gifsicle
      e2fsprogs mount clang libclang-rt-14-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# A comma-decimal locale for the locale-independence tests (skipped when unavailable).
if ! locale -a 2>/dev/null | grep -qi '^de_DE.utf8$'; then
  if [ -w /etc/locale.gen ]; then
    sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen && locale-gen >/dev/null 2>&1 || true
  fi
fi
