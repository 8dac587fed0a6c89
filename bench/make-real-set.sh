#!/usr/bin/env bash
# Builds the benchmark set of real pictures listed in bench/real-set.tsv:
# pictures that Debian packages ship (wallpapers, documentation screenshots,
# scientific sample pictures, maps, icons), converted to uncompressed BMP.
#
#   bench/make-real-set.sh [OUTPUT-FOLDER]      (default: build/realset)
#
# The packages are fetched with `apt-get download` (not installed) into
# OUTPUT/.debs (kept as a cache) and unpacked with `dpkg-deb -x` into
# OUTPUT/.src while pictures are converted. Each picture
# is converted with ImageMagick to BMP3 (40-byte info header, no compression,
# no bit fields, rows bottom-up) of 8, 24 or 32 bits, then checked: its
# header, its size (1 to 20 MB), and that `vekconv e` accepts it and
# `vekconv d` gives its data bytes back. OUTPUT/MANIFEST.tsv records every
# picture's package, version, file inside the package and conversion command.
#
# Re-running is cheap: a picture is converted again only when its package
# version or its conversion changed. .bmp files in OUTPUT that the list does
# not name are removed, so that `vekbench OUTPUT` measures exactly the set.
#
# Environment: VEKCONV (default build/bin/vekconv), CONVERT (default the
# system's ImageMagick convert), REAL_SET_LIST (default bench/real-set.tsv).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
list=${REAL_SET_LIST:-$root/bench/real-set.tsv}
out=${1:-$root/build/realset}
vekconv=${VEKCONV:-$root/build/bin/vekconv}
convert=${CONVERT:-}
if [ -z "$convert" ]; then
  if [ -x /usr/bin/convert-im6.q16 ]; then convert=/usr/bin/convert-im6.q16; else convert=convert; fi
fi
min_bytes=1000000
max_bytes=20000000

fail() { echo "make-real-set: $*" >&2; exit 1; }

command -v apt-get >/dev/null || fail "apt-get not found (a Debian system is needed)"
command -v dpkg-deb >/dev/null || fail "dpkg-deb not found"
command -v "$convert" >/dev/null || fail "ImageMagick's convert not found (apt-get install imagemagick)"
[ -x "$vekconv" ] || fail "$vekconv not found: build first (tools/build.sh) or set VEKCONV"
[ -f "$list" ] || fail "$list not found"

mkdir -p "$out/.debs" "$out/.src" "$out/.stamps" "$out/.work"
out=$(cd "$out" && pwd)
work=$out/.work
log=$work/convert.log
: > "$log"

# Little-endian unsigned integer of `count` bytes at `offset` of a file.
le() { od -An -tu"$3" -j"$2" -N"$3" "$1" | tr -d ' '; }

# The .deb of a package in the cache, downloading it when missing. Prints
# its path.
deb_of() {
  local pkg=$1 deb
  deb=$(ls "$out/.debs/${pkg}"_*.deb 2>/dev/null | sort | tail -n 1 || true)
  if [ -z "$deb" ]; then
    echo "downloading $pkg" >&2
    if ! (cd "$out/.debs" && apt-get download "$pkg" >>"$log" 2>&1); then
      tail -n 3 "$log" >&2
      fail "package $pkg is not available from apt (apt-get download $pkg failed; try apt-get update, or change $list)"
    fi
    deb=$(ls "$out/.debs/${pkg}"_*.deb 2>/dev/null | sort | tail -n 1 || true)
    [ -n "$deb" ] || fail "apt-get download $pkg wrote no .deb file"
  fi
  echo "$deb"
}

# Unpacks a package once per .deb file; prints the folder.
unpacked() {
  local pkg=$1 deb=$2 dir=$out/.src/$1
  if [ "$(cat "$dir/.from" 2>/dev/null || true)" != "$(basename "$deb")" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    dpkg-deb -x "$deb" "$dir" || fail "cannot unpack $deb"
    basename "$deb" > "$dir/.from"
  fi
  echo "$dir"
}

# Checks that a BMP file is one the encoder takes and the benchmark wants;
# prints "bits width height".
check_bmp() {
  local file=$1 name=$2 size offbits infosize width height bits compression rows
  size=$(stat -c %s "$file")
  [ "$(head -c 2 "$file")" = "BM" ] || fail "$name: not a BMP file"
  offbits=$(le "$file" 10 4)
  infosize=$(le "$file" 14 4)
  width=$(le "$file" 18 4)
  height=$(le "$file" 22 4)
  bits=$(le "$file" 28 2)
  compression=$(le "$file" 30 4)
  [ "$infosize" -eq 40 ] || fail "$name: info header of $infosize bytes, not 40"
  [ "$compression" -eq 0 ] || fail "$name: compressed or bit-field BMP (compression $compression)"
  [ "$height" -lt 2147483648 ] || fail "$name: rows stored top-down"
  case $bits in 8|24|32) ;; *) fail "$name: $bits bits per pixel (want 8, 24 or 32)";; esac
  rows=$(( (width * bits + 31) / 32 * 4 * height ))
  [ "$size" -eq $((offbits + rows)) ] || fail "$name: $size bytes, but header and rows make $((offbits + rows))"
  [ "$size" -ge $min_bytes ] && [ "$size" -le $max_bytes ] || fail "$name: $size bytes, outside 1 to 20 MB"
  echo "$bits $width $height"
}

# Encodes and decodes a picture with vekconv; the restored data bytes (from
# offset 54 on: colour table and rows) must equal the original's.
check_round_trip() {
  local file=$1 name=$2
  "$vekconv" e "$file" "$work/check.vek" >>"$log" 2>&1 || fail "$name: vekconv e refused it"
  "$vekconv" d "$work/check.vek" "$work/check.bmp" >>"$log" 2>&1 || fail "$name: vekconv d failed"
  # The decoder writes rows of a whole number of 4-pixel groups, longer than
  # the BMP row for 32-bit pictures of widths that are not a multiple of 4
  # and for 24-bit ones that leave 1 or 2 pixels over: the set uses widths
  # where both agree (cropped where needed).
  [ "$(stat -c %s "$file")" -eq "$(stat -c %s "$work/check.bmp")" ] ||
    fail "$name: the decoded file's size differs (rows of a width that is not a whole number of 4-pixel groups?)"
  cmp -s -i 54 "$file" "$work/check.bmp" || fail "$name: decoded data bytes differ"
  rm -f "$work/check.vek" "$work/check.bmp"
}

manifest=$work/MANIFEST.tsv
printf 'name\tkind\tpackage\tversion\tfile\tbits\twidth\theight\tbytes\tcommand\n' > "$manifest"
names=" "
count=0
total=0
while IFS=$'\t' read -r name kind pkg listed_version file options; do
  case $name in ''|'#'*) continue;; esac
  [ -n "$file" ] || fail "bad line for $name in $list"
  names="$names$name.bmp "
  deb=$(deb_of "$pkg")
  version=$(dpkg-deb -f "$deb" Version)
  if [ "$version" != "$listed_version" ]; then
    echo "warning: $name: $pkg is $version here, the list was made from $listed_version" >&2
  fi
  read -ra opts <<< "$options"
  command="convert $file ${opts[*]} -strip -compress none BMP3:$name.bmp"
  stamp="$pkg $version | $command"
  target=$out/$name.bmp
  if [ ! -f "$target" ] || [ "$(cat "$out/.stamps/$name" 2>/dev/null || true)" != "$stamp" ]; then
    echo "converting $name"
    src=$(unpacked "$pkg" "$deb")
    [ -e "$src$file" ] || fail "$name: $file is not in $pkg $version"
    rm -f "$work/$name.bmp"
    "$convert" "$src$file" "${opts[@]}" -strip -compress none "BMP3:$work/$name.bmp" >>"$log" 2>&1 ||
      fail "$name: convert failed (see $log)"
    read -r bits width height <<< "$(check_bmp "$work/$name.bmp" "$name")"
    case $kind in *"$bits-bit"*) ;; *) fail "$name: came out with $bits bits per pixel, the list says \"$kind\"";; esac
    check_round_trip "$work/$name.bmp" "$name"
    mv "$work/$name.bmp" "$target"
    echo "$stamp" > "$out/.stamps/$name"
  fi
  read -r bits width height <<< "$(check_bmp "$target" "$name")"
  bytes=$(stat -c %s "$target")
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$kind" "$pkg" "$version" "$file" "$bits" "$width" "$height" \
    "$bytes" "$command" >> "$manifest"
  count=$((count + 1))
  total=$((total + bytes))
done < "$list"

# Pictures of an older list.
for f in "$out"/*.bmp; do
  [ -e "$f" ] || continue
  case $names in *" $(basename "$f") "*) ;; *) echo "removing $(basename "$f") (not in the list)"; rm -f "$f";; esac
done

mv "$manifest" "$out/MANIFEST.tsv"
# The unpacked packages are only needed while converting; the .deb files
# stay as the download cache.
rm -rf "$out/.src"
echo "$count pictures, $total bytes, in $out (list: $out/MANIFEST.tsv)"
