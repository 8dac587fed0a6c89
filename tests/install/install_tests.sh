#!/usr/bin/env bash
# Tests of the installed tree, one case per run:
#   install_tests.sh stage|layout|man|programs|example|thumbnail|mime|package|python
# CTest passes the folders in the environment (tests/install/CMakeLists.txt):
# VEK_BUILD_DIR, VEK_SOURCE_DIR, VEK_STAGE (the staging install),
# VEK_INSTALLED_FILES (what an install holds, relative to its prefix),
# VEK_LIBDIR, VEK_PIXBUF_MODULEDIR, GDK_PIXBUF_QUERY_LOADERS and
# GDK_PIXBUF_SYSTEM_MODULEDIR; with the Python package VEK_PYTHON (the
# interpreter it is built for) and VEK_PYTHON_DIR (its folder, relative to
# the prefix).
set -euo pipefail

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
suite=$VEK_SOURCE_DIR/tests/data/bmpsuite/g

# A private MIME database holding only the installed image/x-vek type.
private_mime() {
  mkdir -p "$tmp/xdg/mime/packages" "$tmp/home"
  cp "$VEK_STAGE/share/mime/packages/vek.xml" "$tmp/xdg/mime/packages/"
  update-mime-database "$tmp/xdg/mime" >/dev/null 2>&1
}

case "${1:-}" in
stage)
  rm -rf "$VEK_STAGE"
  cmake --install "$VEK_BUILD_DIR" --prefix "$VEK_STAGE" >/dev/null
  ;;

layout)
  missing=0
  while read -r file; do
    [ -e "$VEK_STAGE/$file" ] || { echo "missing: $file" >&2; missing=1; }
  done <"$VEK_INSTALLED_FILES"
  [ $missing -eq 0 ] || fail "the install lacks files"
  soname=$(readelf -d "$VEK_STAGE/$VEK_LIBDIR/libvek.so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ -n "$soname" ] && [ -e "$VEK_STAGE/$VEK_LIBDIR/$soname" ] || fail "libvek's SONAME '$soname' names no installed file"
  desktop-file-validate "$VEK_STAGE/share/applications/sorvu.desktop" || fail "desktop entry not valid"
  grep -q '^MimeType=.*image/x-vek;' "$VEK_STAGE/share/applications/sorvu.desktop" ||
    fail "desktop entry does not offer Sorvu for image/x-vek"
  ;;

man)
  for page in vekconv Sorvu; do
    file=$VEK_STAGE/share/man/man1/$page.1.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page(1) renders with warnings: $warnings"
    text=$(MANWIDTH=80 man -l "$file" 2>/dev/null)
    for section in SYNOPSIS COMMANDS "EXIT STATUS" "ACCEPTED PICTURES" FILES EXAMPLES; do
      grep -q "^$section" <<<"$text" || fail "$page(1) has no $section section"
    done
  done
  ;;

programs)
  # The installed programs load the installed library, not one of the build
  # tree or of the system.
  cp "$suite/pal8.bmp" "$tmp/picture.bmp"
  LD_DEBUG=files LD_DEBUG_OUTPUT=$tmp/ld-vekconv "$VEK_STAGE/bin/vekconv" e "$tmp/picture.bmp" "$tmp/picture.vek" >/dev/null ||
    fail "installed vekconv could not encode"
  grep -q "file=$VEK_STAGE/.*libvek.so .*dynamically loaded by $VEK_STAGE/bin/vekconv" "$tmp"/ld-vekconv.* ||
    fail "vekconv did not load the installed libvek"
  "$VEK_STAGE/bin/vekconv" d "$tmp/picture.vek" "$tmp/restored.bmp" >/dev/null || fail "installed vekconv could not decode"
  cmp -s <(tail -c +55 "$tmp/picture.bmp") <(tail -c +55 "$tmp/restored.bmp") || fail "restored pixels differ"

  # Sorvu shows the .vek picture: its window takes the file's name only once
  # the codec has decoded it.
  cat >"$tmp/sorvu.sh" <<'EOF'
set -u
LD_DEBUG=files LD_DEBUG_OUTPUT=$1/ld-sorvu "$2/bin/Sorvu" "$1/picture.vek" 2>/dev/null &
pid=$!
found=1
for _ in $(seq 1 60); do
  if xdotool search --name '^picture\.vek - Sorvu$' >/dev/null 2>&1; then found=0; break; fi
  sleep 0.5
done
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit $found
EOF
  NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11 \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$tmp/sorvu.sh" "$tmp" "$VEK_STAGE" ||
    fail "installed Sorvu did not show the .vek picture"
  grep -q "file=$VEK_STAGE/.*libvek.so .*dynamically loaded by $VEK_STAGE/bin/Sorvu" "$tmp"/ld-sorvu.* ||
    fail "Sorvu did not load the installed libvek"
  ;;

example)
  # Built against the staging install through find_package ...
  cmake -S "$VEK_SOURCE_DIR/docs/examples" -B "$tmp/cmake" -DCMAKE_PREFIX_PATH="$VEK_STAGE" >/dev/null
  cmake --build "$tmp/cmake" >/dev/null
  out=$("$tmp/cmake/vek_host") || fail "vek_host (find_package) failed: $out"
  echo "find_package: $out"
  # ... and through pkg-config.
  export PKG_CONFIG_PATH=$VEK_STAGE/$VEK_LIBDIR/pkgconfig
  libdir=$(pkg-config --variable=libdir vek)
  [ "$(cd "$libdir" && pwd -P)" = "$(cd "$VEK_STAGE/$VEK_LIBDIR" && pwd -P)" ] || fail "vek.pc points to $libdir"
  # shellcheck disable=SC2046
  c++ -std=c++17 -Wall -Wextra -o "$tmp/vek_host" "$VEK_SOURCE_DIR/docs/examples/vek_host.cpp" \
    $(pkg-config --cflags --libs vek) -Wl,-rpath,"$libdir"
  out=$("$tmp/vek_host" "$suite/rgb24.bmp") || fail "vek_host (pkg-config) failed: $out"
  echo "pkg-config: $out"
  ;;

thumbnail)
  # The desktop's thumbnailer with the installed loader and MIME type.
  private_mime
  "$GDK_PIXBUF_QUERY_LOADERS" "$GDK_PIXBUF_SYSTEM_MODULEDIR"/*.so \
    "$VEK_STAGE/$VEK_PIXBUF_MODULEDIR/libpixbufloader-vek.so" >"$tmp/loaders.cache" 2>/dev/null
  export GDK_PIXBUF_MODULE_FILE=$tmp/loaders.cache XDG_DATA_HOME=$tmp/home
  "$VEK_STAGE/bin/vekconv" e "$suite/rgb24.bmp" "$tmp/picture.vek" >/dev/null
  exec_line=$(sed -n 's/^Exec=//p' "$VEK_STAGE/share/thumbnailers/vek.thumbnailer")
  command=${exec_line//%s/64}
  command=${command//%u/file://$tmp/picture.vek}
  command=${command//%o/$tmp/vek.png}
  XDG_DATA_DIRS=$tmp/xdg $command || fail "thumbnailer failed: $command"
  file "$tmp/vek.png" | grep -q 'PNG image data, 64 x 32' || fail "no 64 x 32 PNG thumbnail: $(file "$tmp/vek.png")"
  XDG_DATA_DIRS=/usr/share gdk-pixbuf-thumbnailer -s 64 "file://$suite/rgb24.bmp" "$tmp/bmp.png"
  differing=$(compare -metric AE "$tmp/vek.png" "$tmp/bmp.png" null: 2>&1) || true
  [ "$differing" = 0 ] || fail "the thumbnails of the .vek and the BMP picture differ in $differing pixels"
  ;;

mime)
  # xdg-mime names the type from the installed definition by the file's
  # content, whatever its name (outside a desktop session it asks the
  # shared MIME database through the mimetype tool).
  command -v mimetype >/dev/null || fail "mimetype (libfile-mimeinfo-perl) is not installed"
  private_mime
  "$VEK_STAGE/bin/vekconv" e "$suite/rgb24.bmp" "$tmp/picture.vek" >/dev/null
  cp "$tmp/picture.vek" "$tmp/picture"
  cp "$tmp/picture.vek" "$tmp/picture.data"
  cp "$suite/rgb24.bmp" "$tmp/other"
  query() {
    env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID \
      XDG_DATA_DIRS="$tmp/xdg" XDG_DATA_HOME="$tmp/home" xdg-mime query filetype "$1"
  }
  for name in picture.vek picture picture.data; do
    type=$(query "$tmp/$name")
    [ "$type" = image/x-vek ] || fail "$name is '$type', not image/x-vek"
  done
  type=$(query "$tmp/other")
  [ "$type" != image/x-vek ] || fail "a BMP file is taken for image/x-vek"
  ;;

package)
  (cd "$tmp" && cpack -G DEB --config "$VEK_BUILD_DIR/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1) ||
    { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB failed"; }
  deb=$(ls "$tmp"/out/*.deb)
  contents=$(dpkg-deb --contents "$deb")
  while read -r file; do
    grep -q " \./usr/$file\( -> .*\)\?$" <<<"$contents" || fail "the package lacks /usr/$file"
  done <"$VEK_INSTALLED_FILES"
  depends=$(dpkg-deb --field "$deb" Depends)
  for library in libdivsufsort3 libgdk-pixbuf-2.0-0 libwxgtk3.2; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
  done
  if [ -n "${VEK_PYTHON_DIR:-}" ]; then
    grep -q "python3 (>= 3\.[0-9]*), python3 (<< 3\.[0-9]*)" <<<"$depends" ||
      fail "Depends lacks the Python version: $depends"
  fi
  # The MIME, gdk-pixbuf loader, desktop and icon caches are refreshed by
  # the triggers of their Debian packages: the only maintainer scripts are
  # the ldconfig calls that CPack adds for a library in /usr/lib.
  mkdir "$tmp/control"
  dpkg-deb --control "$deb" "$tmp/control"
  for script in preinst postinst prerm postrm; do
    [ -e "$tmp/control/$script" ] || continue
    other=$(grep -Ev '^(#!/bin/sh|set -e|if \[ "\$1" = "(configure|remove)" \]; then|[[:space:]]*ldconfig|fi|)$' \
      "$tmp/control/$script" || true)
    [ -z "$other" ] || fail "$script does more than call ldconfig: $other"
  done
  echo "$(basename "$deb"): $(wc -l <<<"$contents") entries, Depends: $depends"
  ;;

python)
  # The installed package, imported by the interpreter it was built for,
  # converts through the installed libvek.
  cp "$suite/pal8.bmp" "$tmp/picture.bmp"
  cat >"$tmp/check.py" <<'EOF'
import sys
import vek
from PIL import Image
folder = sys.argv[1]
bmp = open(folder + "/picture.bmp", "rb").read()
Image.open(folder + "/picture.bmp").save(folder + "/picture.vek")
assert vek.decode(open(folder + "/picture.vek", "rb").read())[54:] == bmp[54:]
print(vek.__file__)
EOF
  out=$(cd "$tmp" && LD_DEBUG=files LD_DEBUG_OUTPUT=$tmp/ld-python PYTHONPATH="$VEK_STAGE/$VEK_PYTHON_DIR" \
    "$VEK_PYTHON" "$tmp/check.py" "$tmp") || fail "the installed package did not convert: $out"
  [ "$out" = "$VEK_STAGE/$VEK_PYTHON_DIR/vek/__init__.py" ] || fail "imported $out, not the installed package"
  grep -q "calling init: $VEK_STAGE/.*/libvek\.so" "$tmp"/ld-python.* ||
    fail "the installed package did not load the installed libvek"
  ;;

*)
  fail "unknown case '${1:-}'"
  ;;
esac
