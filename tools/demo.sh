#!/usr/bin/env bash
# Sets up, builds, then compresses a picture to .vek and restores it.
#   tools/demo.sh [picture.bmp]
# Without a picture, a sample photo-like picture is generated. Only what the
# demo needs is installed and built: the library, the converter and the
# sample generator, in build-demo/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh" demo
build="$root/build-demo"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_VIEWER=OFF \
  -DVEK_BUILD_PIXBUF_LOADER=OFF -DVEK_BUILD_BENCH=OFF -DVEK_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target vek vekconv vek_sample
bin="$build/bin"
out="$root/out"
mkdir -p "$out"

if [ $# -ge 1 ]; then
  picture=$1
else
  picture="$out/sample.bmp"
  "$bin/vek_sample" "$picture"
fi
name=$(basename "${picture%.*}")

"$bin/vekconv" e "$picture" "$out/$name.vek"
"$bin/vekconv" d "$out/$name.vek" "$out/$name.restored.bmp"

in_size=$(stat -c %s "$picture")
vek_size=$(stat -c %s "$out/$name.vek")
echo
echo "picture:  $picture ($in_size bytes)"
echo "packed:   $out/$name.vek ($vek_size bytes, $(( 100 * vek_size / (in_size > 0 ? in_size : 1) ))% of the picture)"
echo "restored: $out/$name.restored.bmp"
# The colour table and pixel rows come back byte for byte; the headers are
# rebuilt (a longer info header comes back as the 40-byte one), so each
# file's data is taken from the end of its own info header.
data_start() { echo $(( 14 + $(od -An -tu4 -j14 -N4 "$1") )); }
in_data=$(data_start "$picture")
out_data=$(data_start "$out/$name.restored.bmp")
n=$(( in_size > in_data ? in_size - in_data : 0 ))
if cmp -s <(tail -c +$(( in_data + 1 )) "$picture" | head -c "$n") \
          <(tail -c +$(( out_data + 1 )) "$out/$name.restored.bmp" | head -c "$n"); then
  echo "check:    pixels and colour table identical"
else
  echo "check:    restored data differ from the picture" >&2
  exit 1
fi
