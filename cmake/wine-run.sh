#!/bin/sh
# Runs a Windows program of the cross build under wine, quietly and in a
# prefix of its own: WINEPREFIX when it is set, otherwise a folder below the
# system's temporary folder. The first run creates the prefix; concurrent
# runs wait for it instead of creating it twice. VEK_WINE names the wine
# loader (default: wine; wine64-run.sh gives the 64-bit one).
#   wine-run.sh program.exe [arguments...]
set -eu
wine=${VEK_WINE:-wine}
: "${WINEPREFIX:=${TMPDIR:-/tmp}/vek-wine-$(id -u)}"
export WINEPREFIX
export WINEDEBUG=-all
# No downloads of the .NET and HTML engines while the prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.vek-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.vek-ready" ]; then
      "$wine" wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      touch "$WINEPREFIX/.vek-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec "$wine" "$@"
