#!/usr/bin/env bash
# Builds VEK for 32-bit Windows (MinGW-w64) in build-win32/ and runs the
# Windows suite under wine, in a private wine prefix that is removed
# afterwards. The converter and byte identity tests need the Linux build:
#   tools/test-windows.sh [linux-build-folder]      (default: build)
# tools/test.sh runs this after the Linux suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux=${1:-$root/build}
build="$root/build-win32"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVEK_LINUX_BIN="$linux/bin" >/dev/null
cmake --build "$build" -j2

export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vek-wine.XXXXXX")
cleanup() {
  WINEDEBUG=-all wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
}
trap cleanup EXIT

cd "$build"
# wine32 runs 32-bit Linux code; a kernel started without 32-bit support
# (ia32_emulation off) cannot run it at all.
if ! wine --version >/dev/null 2>&1; then
  echo "*** This system cannot run wine's 32-bit loader (is 32-bit program support off in the kernel?)."
  echo "*** The Windows suite is built, but only its checks that need no wine run here."
  if [ "${VEK_REQUIRE_WINE:-0}" = 1 ]; then
    exit 1
  fi
  # The test list itself comes from running the test programs, so the
  # checks that need no wine run directly.
  sh "$root/tests/windows/check_pe_tables.sh" i686-w64-mingw32-objdump bin/VEK.DLL bin/vekconv.exe
  python3 "$root/tests/viewer/win32/check_sorvu_exe.py" bin/Sorvu.exe
  exit
fi
ctest --output-on-failure -j2
