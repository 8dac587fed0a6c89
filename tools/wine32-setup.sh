#!/usr/bin/env bash
# Makes a private 32-bit wine for a kernel that runs no 32-bit programs
# (IA-32 emulation off): Debian's wine32:i386 and the i386 libraries it
# needs, unpacked into a folder (not installed), run by qemu-i386 from the
# backports suite. Nothing is installed into the system and its apt set-up
# is not touched: apt runs on a private configuration whose sources are the
# archive the system already installs from. Needs the installed wine64 at
# the same version (its server serves the 32-bit processes too).
#   tools/wine32-setup.sh [DEST]
# DEST defaults to VEK's cache folder ($XDG_CACHE_HOME/vek/wine32-qemu, or
# ~/.cache/vek/wine32-qemu); about 200 MB are downloaded and 0.7 GB kept.
# A folder made for the same wine64 version is kept as it is. Prints the
# wine loader to use (DEST/wine, for 32-bit prefixes) on its last line.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib/apt.sh"
cache=${VEK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vek}
dest=$(realpath -m "${1:-$cache/wine32-qemu}")

ver=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null) ||
  { echo "wine32-setup: wine64 is not installed (tools/setup.sh windows)" >&2; exit 1; }
# The recipe's own version: a change to the steps below makes a new folder.
stamp="wine64 $ver, recipe 2"
if [ -x "$dest/wine" ] && [ "$(cat "$dest/.stamp" 2>/dev/null)" = "$stamp" ]; then
  echo "$dest/wine"
  exit 0
fi

echo "wine32-setup: making a private 32-bit wine in $dest (about 200 MB to download)" >&2
work=$dest.new
rm -rf "$work"
root=$work/root
mkdir -p "$work/debs" "$root"
uri=$(vek_archive_uri)
codename=$(vek_codename)
vek_private_apt "$cache/apt-wine32" \
  "deb [arch=amd64,i386] $uri $codename main" \
  "deb [arch=amd64,i386] $uri $codename-updates main" \
  "deb [arch=amd64] $uri $codename-backports main"
A=("${VEK_APT_PRIVATE[@]}" -o APT::Architectures::=amd64 -o APT::Architectures::=i386)
vek_apt_update "${A[@]}"

# wine32:i386 at the installed wine64's version, and the i386 packages it
# needs.
pkgs=$(apt-cache "${A[@]}" depends --recurse --no-recommends --no-suggests --no-conflicts \
         --no-breaks --no-replaces --no-enhances "wine32:i386=$ver" |
       sed -n 's/^\([a-z0-9][^ <>]*:i386\)$/\1/p' | sort -u | grep -v '^wine32:i386$') ||
  { echo "wine32-setup: wine32:i386 $ver is not in the package lists" >&2; exit 1; }
cd "$work/debs"
# shellcheck disable=SC2086
apt-get "${A[@]}" -q download "wine32:i386=$ver" $pkgs "qemu-user/$codename-backports" 2>&1 |
  grep -v '^W: Download is performed unsandboxed' >&2 || true
ls wine32_*_i386.deb qemu-user_*_amd64.deb >/dev/null 2>&1 ||
  { echo "wine32-setup: downloading wine32:i386 or qemu-user from $codename-backports failed" >&2; exit 1; }
for deb in *_i386.deb; do dpkg-deb -x "$deb" "$root"; done
# Of QEMU only qemu-i386 (a static program) is kept.
dpkg-deb -x qemu-user_*_amd64.deb "$work/qemu-all"
mkdir -p "$work/qemu/usr/bin"
mv "$work/qemu-all/usr/bin/qemu-i386" "$work/qemu/usr/bin/"
rm -rf "$work/qemu-all" "$work/debs"

# What the packages' maintainer scripts would have done: the zlib DLL that
# wine loads as a builtin is MinGW's with wine's builtin mark, and the i386
# loader gets a cache of its own (the host's lists 64-bit libraries).
in=/usr/i686-w64-mingw32/lib/zlib1.dll
[ -f "$in" ] || { echo "wine32-setup: $in is missing (package libz-mingw-w64)" >&2; exit 1; }
out=$root/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
{ head -c 64 "$in"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$in"; } >"$out"
echo 'include /etc/ld.so.conf.d/*.conf' >"$root/etc/ld.so.conf"
ldconfig -r "$root"
# qemu shows a path of the root in place of the system's: the root's nearly
# empty fonts folder would hide the system's fonts (wine then has no font
# and stores broken menu metrics in the prefix). Fontconfig keeps its
# 32-bit caches in the root.
# The same for wine's own fonts (package fonts-wine, on the system), among
# them the bitmap "MS Sans Serif" that dialogs ask for: without them wine
# draws dialogs in a wider font than their layout was made for.
rm -rf "$root/usr/share/fonts" "$root/etc/fonts" "$root/usr/share/wine/fonts"
mkdir -p "$root/etc/fonts" "$root/var/cache/fontconfig"
sed "s|<cachedir>/var/cache/fontconfig</cachedir>|<cachedir>$dest/root/var/cache/fontconfig</cachedir>|" \
  /etc/fonts/fonts.conf >"$root/etc/fonts/fonts.conf"
# The loader, run by qemu under this launcher's name (qemu's -0): wine
# starts every further wine process by exec'ing <its folder>/<its own
# name>, so all of them come back through qemu (no binfmt_misc entry).
cat >"$root/usr/lib/wine/wine-qemu" <<'SH'
#!/bin/sh
d=$(dirname "$(readlink -f "$0")")
exec "${d%/root/usr/lib/wine}/qemu/usr/bin/qemu-i386" -L "${d%/usr/lib/wine}" -0 "$d/wine-qemu" "$d/wine" "$@"
SH
chmod +x "$root/usr/lib/wine/wine-qemu"
# The loader to use: 32-bit prefixes only.
cat >"$work/wine" <<SH
#!/bin/sh
export WINEARCH=win32
exec "$dest/root/usr/lib/wine/wine-qemu" "\$@"
SH
chmod +x "$work/wine"
echo "$stamp" >"$work/.stamp"
rm -rf "$dest"
mv "$work" "$dest"
"$dest/wine" --version >&2
echo "$dest/wine"
