#!/usr/bin/env bash
# Builds VEK for 32-bit Windows (MinGW-w64) in build-win32/ and runs the
# whole Windows suite under a 32-bit wine: VEK.DLL, vekconv.exe (its bytes
# against the Linux build's), the codec tests, the host built in the
# platform compiler's ABI, and Sorvu.exe on a headless X server.
#   tools/test-windows.sh [linux-build-folder]      (default: build)
#   tools/test-windows.sh --also-64 [linux-build-folder]
#                         then the same suite on a 64-bit build (build-win64/)
#                         under wine64, as an extra
#   tools/test-windows.sh [linux-build-folder] -- CTEST-ARGUMENTS...
#                         only some tests (e.g. -- -R sorvu_wine)
# The 32-bit wine is the system's where it runs 32-bit programs; otherwise
# (a kernel without 32-bit program support) a private one run by qemu-i386,
# which tools/wine32-setup.sh makes on first use in VEK's cache folder,
# outside the source tree. The suite fails when no 32-bit wine can run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
also64=no
if [ "${1:-}" = --also-64 ]; then also64=yes; shift; fi
# Absolute: the cross builds are configured from their own folders.
linux=$root/build
if [ $# -gt 0 ] && [ "$1" != -- ]; then linux=$1; shift; fi
linux=$(realpath -m "$linux")
[ "${1:-}" = -- ] && shift
ctest_args=("$@")

# Configures and builds a Windows build folder with a tool chain file.
cross_build() {
  cmake -S "$root" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
    -DCMAKE_BUILD_TYPE=Release -DVEK_LINUX_BIN="$linux/bin" >/dev/null
  cmake --build "$1" -j2
}

# A private wine prefix for the run, removed afterwards, with one wine
# server kept for the whole run: every new server session costs seconds
# (much more under emulation), and system processes started by a test
# would otherwise hold ctest's output pipe open.
end_wine() {
  WINEDEBUG=-all wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.lock"
}
run_suite() {
  local build=$1
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vek-wine.XXXXXX")
  trap end_wine EXIT
  # The prefix first (wine-run.sh waits for its server to end), then the
  # server that stays.
  "$root/cmake/${2:-wine-run.sh}" cmd /c exit >/dev/null 2>&1 </dev/null
  WINEDEBUG=-all wineserver -w
  WINEDEBUG=-all wineserver -p >/dev/null 2>&1 </dev/null
  WINEDEBUG=-all "${VEK_WINE:-wine}" cmd /c exit >/dev/null 2>&1 </dev/null || true
  (cd "$build" && ctest --output-on-failure -j2 "${ctest_args[@]}")
  end_wine
  trap - EXIT
}

# A 32-bit wine: the system's (wine32's loader, a 32-bit program) if the
# kernel runs it, else the private one.
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  export VEK_WINE=wine
  how="the system's 32-bit wine"
else
  VEK_WINE=$("$root/tools/wine32-setup.sh" | tail -n 1) || {
    echo "*** No 32-bit wine can run here, and the private one could not be made (see above)."
    exit 1
  }
  export VEK_WINE
  how="a private 32-bit wine run by qemu-i386 ($(dirname "$VEK_WINE"))"
fi

cross_build "$root/build-win32" mingw-w64-i686.cmake
echo "=== Windows suite: the 32-bit build (build-win32/) under $how"
run_suite "$root/build-win32"
echo "=== The 32-bit Windows suite passed under $how."

if [ "$also64" = yes ]; then
  echo "=== Extra: the same suite on a 64-bit build (build-win64/) under wine64"
  unset VEK_WINE
  cross_build "$root/build-win64" mingw-w64-x86_64.cmake
  run_suite "$root/build-win64" wine64-run.sh
fi
