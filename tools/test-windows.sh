#!/usr/bin/env bash
# Builds VEK for 32-bit Windows (MinGW-w64) in build-win32/ and runs the
# Windows suite under wine, in a private wine prefix that is removed
# afterwards. Where 32-bit programs cannot run at all (a kernel without
# 32-bit program support), the 32-bit files get the checks that need no
# wine, and the same suite runs on a 64-bit build of the same tree in
# build-win64/ under wine64 instead. The converter and byte identity tests
# need the Linux build:
#   tools/test-windows.sh [linux-build-folder]      (default: build)
# VEK_REQUIRE_WINE=1: fail when the 32-bit suite cannot run.
# tools/test.sh runs this after the Linux suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Absolute: the cross builds are configured from their own folders.
linux=$(realpath -m "${1:-$root/build}")

# Configures and builds a Windows build folder with a tool chain file.
cross_build() {
  cmake -S "$root" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
    -DCMAKE_BUILD_TYPE=Release -DVEK_LINUX_BIN="$linux/bin" >/dev/null
  cmake --build "$1" -j2
}

build="$root/build-win32"
cross_build "$build" mingw-w64-i686.cmake

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
if wine --version >/dev/null 2>&1; then
  echo "=== Windows suite: the 32-bit build (build-win32/) under wine"
  ctest --output-on-failure -j2
  exit
fi

echo "*** This system cannot run wine's 32-bit loader (is 32-bit program support off in the kernel?)."
if [ "${VEK_REQUIRE_WINE:-0}" = 1 ]; then
  echo "*** VEK_REQUIRE_WINE=1: the 32-bit Windows suite must run; failing."
  exit 1
fi
echo "=== 32-bit build (build-win32/): only the checks that need no wine"
# The test list itself comes from running the test programs, so the
# checks that need no wine run directly.
sh "$root/tests/windows/check_pe_tables.sh" i686-w64-mingw32-objdump bin/VEK.DLL bin/vekconv.exe
python3 "$root/tests/viewer/win32/check_sorvu_exe.py" bin/Sorvu.exe
if [ -f bin/msvc_abi_host.exe ]; then
  echo "msvc_abi_host.exe (the host in the platform compiler's 32-bit ABI) is built and linked, but cannot run here."
fi

echo "=== Windows suite: the 64-bit build (build-win64/) under wine64, in place of the 32-bit one"
if [ ! -x /usr/lib/wine/wine64 ]; then
  echo "*** wine64 is missing (tools/setup.sh installs it)."
  exit 1
fi
build64="$root/build-win64"
cross_build "$build64" mingw-w64-x86_64.cmake
cd "$build64"
ctest --output-on-failure -j2
echo "=== The 32-bit build's files passed their checks that need no wine; the Windows suite ran on the 64-bit build."
