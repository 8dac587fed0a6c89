#!/bin/sh
# Runs a test program on a private, headless X server (Xvfb), so tests that
# need a display work on CI and never touch the user's screen. The root
# window is black (-br), so that the edges of a window can be seen. Listing the
# tests needs no display.
for arg in "$@"; do
  case "$arg" in
    --gtest_list_tests) exec "$@" ;;
  esac
done
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11
# The sanitizer build: fontconfig keeps its caches until exit on purpose.
LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export LSAN_OPTIONS
exec xvfb-run -a -s "-screen 0 1600x1200x24 -br -nolisten tcp" "$@"
