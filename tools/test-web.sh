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

# The suffix sorter is built from Debian's source package. Without source
# entries in the system's apt configuration, a private one in the build
# folder takes the archive address from the system's binary entries.
fetch_sorter_source() {
  local dir="$build/_deps/divsufsort" apt="$build/_deps/apt"
  ls "$dir"/libdivsufsort_*.dsc >/dev/null 2>&1 && return 0
  [ -f "$dir/source/CMakeLists.txt" ] && return 0
  mkdir -p "$dir" "$apt/lists/partial" "$apt/cache/archives/partial"
  local sources=/etc/apt/sources.list.d/debian.sources uri suite components key
  uri=$(awk '/^URIs:/{print $2; exit}' "$sources")
  suite=$(awk '/^Suites:/{print $2; exit}' "$sources")
  components=$(awk '/^Components:/{$1=""; print; exit}' "$sources")
  key=$(awk '/^Signed-By:/{print $2; exit}' "$sources")
  echo "deb-src [signed-by=$key] $uri $suite$components" > "$apt/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
              -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o APT::Sandbox::User=root)
  apt-get "${opts[@]}" update -qq >/dev/null
  (cd "$dir" && apt-get "${opts[@]}" source --download-only -qq libdivsufsort >/dev/null)
}

started=$(date +%s)
fetch_sorter_source
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
