#!/usr/bin/env bash
# Installs what building and testing VEK needs on Debian 12 (run as root).
# Idempotent: only what is missing is installed, and the system's package
# sources are touched only when the i386 architecture or the source entries
# are missing.
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
  # The 32-bit Windows build: cross tool chain, the host built in the
  # platform compiler's ABI (clang, lld), wine to run the tests (dpkg-dev
  # above unpacks the suffix sorter's source package).
  g++-mingw-w64-i686 lld-14 wine wine32:i386
  # The 64-bit Windows build that runs the same suite under wine64 where
  # 32-bit programs cannot run (tools/test-windows.sh).
  g++-mingw-w64-x86-64-posix wine64
)

as_root() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "$1; run this script as root." >&2
    exit 1
  fi
}

update=no
# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root "The i386 architecture is not enabled"
  dpkg --add-architecture i386
  update=yes
fi
# Source entries of the Debian archive, for the suffix sorter's source
# package (apt-get source).
src_list=/etc/apt/sources.list.d/vek-debian-src.sources
if [ ! -f "$src_list" ] && ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  as_root "No source entries for the Debian archive"
  cat >"$src_list" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  update=yes
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ "$update" = yes ]; then
  as_root "Missing packages: ${missing[*]:-none} (or package lists to refresh)"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi
