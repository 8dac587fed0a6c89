#!/bin/sh
# Makes docs/sorvu.png, the README's picture of the viewer: Sorvu showing the
# generated sample picture, taken on a headless X server (Xvfb).
#   tools/sorvu-screenshot.sh [build folder]     (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
cmake --build "$build" -j2 --target sorvu_screenshot vek_sample Sorvu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$build/bin/vek_sample" "$tmp/sample.bmp"
mkdir -p "$root/docs"
NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11 \
  xvfb-run -a -s "-screen 0 1024x768x24 -br -nolisten tcp" \
  "$build/bin/sorvu_screenshot" "$root/docs/sorvu.png" "$tmp/sample.bmp"
echo "wrote $root/docs/sorvu.png"
