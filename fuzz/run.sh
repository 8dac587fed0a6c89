#!/usr/bin/env bash
# Builds the fuzz targets with clang (address and undefined-behaviour
# sanitizers on) and runs them one after the other.
#
#   fuzz/run.sh --smoke      every target for 30 seconds on a throw-away copy
#                            of the committed seeds (what CI runs)
#   fuzz/run.sh [seconds]    every target for that long (default 600); the
#                            grown corpora stay in <build>/corpus/<target>
#
# Environment: VEK_FUZZ_BUILD (build folder, default build-fuzz at the root),
# VEK_FUZZ_RSS_MB (memory limit per target, default 1536), VEK_FUZZ_TARGETS
# (space-separated subset of the targets).
# Exit status 1 when a target found a crash, leak, timeout or broken check;
# the input that caused it is kept in <build>/artifacts/<target>/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VEK_FUZZ_BUILD:-$root/build-fuzz}
rss=${VEK_FUZZ_RSS_MB:-1536}

smoke=0
seconds=600
case "${1:-}" in
  --smoke) smoke=1; seconds=30 ;;
  '') ;;
  *[!0-9]*) echo "usage: $0 [--smoke | seconds]" >&2; exit 2 ;;
  *) seconds=$1 ;;
esac

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEK_BUILD_FUZZERS=ON -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_VIEWER=OFF -DVEK_BUILD_PYTHON=OFF >/dev/null
# The fuzz CMakeLists lists the targets it could define (the viewer's reader
# joins once the viewer's sources are there).
available=$(cat "$build/fuzz/targets.txt")
built=()
for t in ${VEK_FUZZ_TARGETS:-$available}; do
  if grep -qx "$t" <<<"$available"; then
    built+=("$t")
  else
    echo "no fuzz target $t" >&2
  fi
done
cmake --build "$build" -j2 --target "${built[@]}"

# Real-world BMP variants beside the generated seeds, for the BMP doors.
bmp_seeds=()
for d in g q b x; do
  [ -d "$root/tests/data/bmpsuite/$d" ] && bmp_seeds+=("$root/tests/data/bmpsuite/$d")
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for t in "${built[@]}"; do
  if [ $smoke -eq 1 ]; then
    corpus="$scratch/$t"
  else
    corpus="$build/corpus/$t"
  fi
  mkdir -p "$corpus" "$build/artifacts/$t"
  extra=()
  case $t in
    fuzz_encode|fuzz_roundtrip) extra=("${bmp_seeds[@]}") ;;
    fuzz_viewer_bmp) extra=("$root/fuzz/corpus/fuzz_encode" "${bmp_seeds[@]}") ;;
  esac
  seeds=()
  [ -d "$root/fuzz/corpus/$t" ] && seeds=("$root/fuzz/corpus/$t")
  # The viewer's painter draws through the toolkit, which needs a display:
  # a private headless one.
  runner=()
  if [ "$t" = fuzz_viewer_bmp ]; then
    runner=(env NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11
            xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp")
  fi
  echo "== $t: $seconds s"
  if ! (cd "$scratch" && "${runner[@]}" "$build/bin/$t" -max_total_time="$seconds" -rss_limit_mb="$rss" -timeout=30 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$t/" \
        "$corpus" "${seeds[@]}" "${extra[@]}" >"$build/$t.log" 2>&1); then
    echo "!! $t found a problem; see $build/$t.log and $build/artifacts/$t/"
    grep -E 'ERROR|SUMMARY|check failed' "$build/$t.log" | head -5 || true
    status=1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$build/$t.log" || true
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/$t.log" || true
done
exit $status
