#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (GUI tests under Xvfb).
#   tools/test.sh             normal build in build/
#   tools/test.sh --sanitize  address + undefined-behaviour sanitizers in build-asan/,
#                             with the codec's baseline loops (the normal build
#                             runs their x86-64-v3 copies where it can)
#   tools/test.sh --threads   the thread sanitizer on the test of codec objects
#                             working in several threads at once and on the
#                             pipeline's tests, in build-tsan/
# The normal run also builds the 32-bit Windows files in build-win32/ and runs
# the whole Windows suite under a 32-bit wine (tools/test-windows.sh); where
# the kernel runs no 32-bit programs, the first run makes a private wine run
# by qemu in VEK's cache folder (about 200 MB downloaded, 0.7 GB on disk).
# Last, the WebAssembly build in build-web/ with its tests under node and in
# headless Chromium (tools/test-web.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${1:-}" ]; then
  "$root/tools/setup.sh" demo test python windows web
else
  "$root/tools/setup.sh" demo test python
fi
if [ "${1:-}" = "--threads" ]; then
  build="$root/build-tsan"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_SANITIZE_THREAD=ON \
    -DVEK_BASELINE_ONLY=ON -DVEK_BUILD_VIEWER=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target codec_thread_tests
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "$build/bin/codec_thread_tests"
  exit
elif [ "${1:-}" = "--sanitize" ]; then
  build="$root/build-asan"
  "$root/tools/build.sh" "$build" -DVEK_SANITIZE=ON -DVEK_BASELINE_ONLY=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  build="$root/build"
  "$root/tools/build.sh" "$build"
fi
cd "$build"
ctest --output-on-failure -j2
if [ "${1:-}" = "" ]; then
  "$root/tools/test-windows.sh" "$build"
  "$root/tools/test-web.sh" "$build"
fi
