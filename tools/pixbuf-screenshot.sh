#!/bin/sh
# Makes docs/gtk-viewer-vek.png, the README's picture of a GTK image viewer
# (gpicview, Debian package gpicview) showing a .vek picture through the
# gdk-pixbuf loader, taken on a headless X server (Xvfb). The loader and the
# image/x-vek type are registered in a private loader cache and MIME database,
# as an installed package registers them system-wide.
#   tools/pixbuf-screenshot.sh [build folder]     (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
command -v gpicview >/dev/null || { echo "gpicview is not installed (apt-get install gpicview)" >&2; exit 1; }
cmake --build "$build" -j2 --target pixbufloader-vek vek_sample vekconv
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$build/bin/vek_sample" "$tmp/sample.bmp"
"$build/bin/vekconv" e "$tmp/sample.bmp" "$tmp/sample.vek" >/dev/null
rm "$tmp/sample.bmp"  # the viewer can only show the .vek file

loaders=$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0)
"$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0)" "$loaders"/*.so \
  "$build/bin/libpixbufloader-vek.so" >"$tmp/loaders.cache" 2>/dev/null
mkdir -p "$tmp/share/mime/packages" "$tmp/home"
cp "$root/desktop/vek-mime.xml" "$tmp/share/mime/packages/vek.xml"
update-mime-database "$tmp/share/mime" >/dev/null 2>&1

cat >"$tmp/shoot.sh" <<'SHOOT'
set -eu
cd "$1"
gpicview sample.vek 2>/dev/null &
pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name 'sample\.vek')
sleep 2
import -window "$(echo "$window" | head -n 1)" "$2"
kill "$pid"
SHOOT
mkdir -p "$root/docs"
GDK_PIXBUF_MODULE_FILE=$tmp/loaders.cache XDG_DATA_DIRS=$tmp/share:/usr/share XDG_DATA_HOME=$tmp/home \
  NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11 \
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" sh "$tmp/shoot.sh" "$tmp" "$root/docs/gtk-viewer-vek.png"
echo "wrote $root/docs/gtk-viewer-vek.png"
