#!/bin/sh
# Runs a program of the 64-bit Windows build (mingw-w64-x86_64.cmake) under
# wine64, like wine-run.sh, in a prefix of its own unless WINEPREFIX is set.
# /usr/bin/wine starts the 32-bit loader whenever wine32 is installed, so the
# 64-bit loader is named here, and as WINELOADER for the processes that the
# program starts.
#   wine64-run.sh program.exe [arguments...]
set -eu
: "${WINEPREFIX:=${TMPDIR:-/tmp}/vek-wine64-$(id -u)}"
export WINEPREFIX
VEK_WINE=/usr/lib/wine/wine64
WINELOADER=$VEK_WINE
export VEK_WINE WINELOADER
exec "$(dirname "$0")/wine-run.sh" "$@"
