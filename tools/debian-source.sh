#!/usr/bin/env bash
# Downloads a Debian source package into a folder, through a private apt
# configuration: source entries for the archive this system already
# installs from, kept in VEK's cache folder, so the system's own sources
# need no source entries and are left as they are.
#   tools/debian-source.sh PACKAGE DEST
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib/apt.sh"
package=${1:?package}
dest=${2:?destination folder}
uri=$(vek_archive_uri)
codename=$(vek_codename)
cache=${VEK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vek}
vek_private_apt "$cache/apt-source" \
  "deb-src $uri $codename main" "deb-src $uri $codename-updates main"
ls "$cache/apt-source/lists/"*Sources* >/dev/null 2>&1 || vek_apt_update "${VEK_APT_PRIVATE[@]}"
mkdir -p "$dest"
cd "$dest"
fetch() {
  apt-get "${VEK_APT_PRIVATE[@]}" source --download-only -qq "$package" 2>&1 |
    grep -v '^W: Download is performed unsandboxed' >&2 || true
  ls "$dest/${package}"_*.dsc >/dev/null 2>&1
}
# Lists that are old name versions the archive no longer has: refresh them
# once and try again.
fetch || { vek_apt_update "${VEK_APT_PRIVATE[@]}"; fetch; } ||
  { echo "debian-source: could not download the source package $package" >&2; exit 1; }
