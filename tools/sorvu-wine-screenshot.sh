#!/bin/sh
# Makes docs/sorvu-wine.png, the README's picture of Sorvu.exe under wine:
# the generated sample picture (as in docs/sorvu.png), shown in a wine
# desktop window on a headless X server (Xvfb), so that wine draws the
# frame's caption and borders itself.
#   tools/sorvu-wine-screenshot.sh [windows build] [linux build]
#                                   (defaults: build-win32, build)
# The Windows build folder needs Sorvu.exe and VEK.DLL; the Linux one the
# sample maker vek_sample. VEK_WINE_RUN names another wine
# runner than cmake/wine-run.sh (for a build of other bitness).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
win=${1:-$root/build-win32}
linux=${2:-$root/build}
case "$win" in /*) ;; *) win=$root/$win ;; esac
case "$linux" in /*) ;; *) linux=$root/$linux ;; esac
run=${VEK_WINE_RUN:-$root/cmake/wine-run.sh}
tmp=$(mktemp -d)
export WINEPREFIX="$tmp/prefix"
trap 'WINEDEBUG=-all wineserver -k >/dev/null 2>&1 || true; rm -rf "$tmp"' EXIT
"$linux/bin/vek_sample" "$tmp/sample.bmp"
mkdir -p "$root/docs"
# The prefix is made first.
"$run" cmd /c exit >/dev/null 2>&1 || true
cat >"$tmp/shot.sh" <<SHOT
#!/bin/sh
"$run" explorer /desktop=sorvu,800x600 "$win/bin/Sorvu.exe" "Z:$tmp/sample.bmp" >/dev/null 2>&1 &
sleep 8
# The desktop around the frame is of one colour: trimming it leaves the frame.
import -silent -window root -crop 800x600+0+0 +repage -trim +repage "$root/docs/sorvu-wine.png"
# Sorvu.exe and the desktop window end with their wine server.
WINEDEBUG=-all wineserver -k >/dev/null 2>&1 || true
wait
SHOT
chmod +x "$tmp/shot.sh"
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$tmp/shot.sh"
echo "wrote $root/docs/sorvu-wine.png"
