#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (GUI tests under Xvfb).
#   tools/test.sh             normal build in build/
#   tools/test.sh --sanitize  address + undefined-behaviour sanitizers in build-asan/,
#                             with the codec's baseline loops (the normal build
#                             runs their x86-64-v3 copies where it can)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
if [ "${1:-}" = "--sanitize" ]; then
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
