#!/usr/bin/env bash
# Installs what building and testing VEK needs on Debian 12 (run as root).
set -euo pipefail

packages=(
  build-essential cmake g++ pkg-config
  libgtest-dev googletest
  libdivsufsort-dev
  libbz2-dev bzip2 lbzip2
  libwxgtk3.2-dev libx11-dev
  xvfb xauth xdotool imagemagick x11-utils
  clang libclang-rt-14-dev
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info xdg-utils libfile-mimeinfo-perl
  scdoc man-db groff-base dpkg-dev file desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}; run this script as root to install them." >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
