#!/usr/bin/env bash
# Installs the Debian packages that a part of the work needs (run as root).
#   tools/setup.sh [GROUP...]      (default: demo test python windows web)
# Each group is a list in tools/packages/GROUP.txt, one package a line:
#   demo     building the library and the converter (tools/demo.sh)
#   test     the Linux build and its whole test suite
#   python   the Python package and its tests
#   windows  the 32-bit Windows build and its suite under wine
#   web      the WebAssembly build and its tests in headless Chromium
# Only what is missing is installed, and the package lists are refreshed
# only then. A package index that fails to download is tried once more and
# then reported in one warning line; set-up fails only when a package it
# needs cannot be installed, naming it. The system's package sources and
# architectures are left as they are.
# VEK_SETUP_SIMULATE=1 makes apt only simulate the installation (the tests
# of this script use it with a private apt configuration, APT_CONFIG).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib/apt.sh"
lists=${VEK_PACKAGES_DIR:-$here/packages}

[ $# -gt 0 ] || set -- demo test python windows web
packages=()
for group in "$@"; do
  [ -f "$lists/$group.txt" ] || { echo "setup: no package group '$group' (see $lists)" >&2; exit 2; }
  while read -r p _; do
    case $p in ''|'#'*) continue ;; esac
    packages+=("$p")
  done <"$lists/$group.txt"
done

missing=()
for p in "${packages[@]}"; do
  case " ${missing[*]} " in *" $p "*) continue ;; esac
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run tools/setup.sh as root, or install them." >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
vek_apt_update
simulate=()
[ "${VEK_SETUP_SIMULATE:-0}" = 1 ] && simulate=(-s)
vek_apt_install "${simulate[@]}" -- "${missing[@]}" || exit 1
