#!/usr/bin/env bash
# Builds the WebAssembly codec and the web package in build-web/ with
# emscripten, then runs the module's tests under node and the page's tests
# in headless Chromium. The reference files come from the Linux build:
#   tools/test-web.sh [linux-build-folder]      (default: build)
# VEK_WEB_BENCH=FOLDER: afterwards, also time decodes in Chromium against
# the native single-thread decode on the largest pictures of FOLDER (the
# real set of bench/make-real-set.sh); a benchmark, it never fails the run.
# tools/packages/web.txt lists the Debian packages this needs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux=$(realpath -m "${1:-$root/build}")
build="$root/build-web"
python=/usr/bin/python3  # Debian's interpreter, which has selenium and Pillow

[ -x "$linux/bin/vekconv" ] || { echo "*** $linux/bin/vekconv is missing: build the Linux side first"; exit 1; }

# The newer node on PATH does not find Debian's JavaScript modules (acorn)
# that emscripten's optimised link runs; Debian's own folder is given.
export NODE_PATH=/usr/share/nodejs

# (The suffix sorter is built from Debian's source package, which the
# configure step fetches through tools/debian-source.sh.)
started=$(date +%s)
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/emscripten-wasm.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVEK_LINUX_BIN="$linux/bin" >/dev/null
cmake --build "$build" -j2
echo "=== web build: $(( $(date +%s) - started )) s"

cd "$build"
# The page test leaves a picture of the page showing a picture here
# (VEK_WEB_UPDATE_DOCS=1: also as the README's screenshot).
export VEK_WEB_SCREENSHOT="$build/web-viewer.png"
status=0
ctest --output-on-failure | tee ctest.log || status=1
if [ "$status" = 0 ] && [ "${VEK_WEB_UPDATE_DOCS:-0}" = 1 ]; then
  cp "$VEK_WEB_SCREENSHOT" "$root/docs/web-viewer.png"
fi
if [ -n "${VEK_WEB_BENCH:-}" ]; then
  "$python" "$root/bench/web-bench.py" "$build/package" "$linux/bin" "$VEK_WEB_BENCH" || true
fi
# ctest's summary line: "N% tests passed, F tests failed out of T".
read -r failed total < <(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' ctest.log) || true
echo "web suite ($(( $(date +%s) - started )) s): $(( ${total:-0} - ${failed:-0} )) passed, ${failed:-0} failed"
[ -n "${total:-}" ] && [ "$total" -gt 0 ] || status=1
exit $status
