#!/usr/bin/env bash
# Checks the layering of the codec's files from the compiler's own include
# graph (-MM): the files form no cycle (a file and its header count as one
# unit), and no stage reaches the codec object's header, so that every arrow
# points from the codec object down into the stages.
#   tools/check-codec-layers.sh [C++ compiler]
# VEK_SOURCE_DIR names another source tree to check.
set -euo pipefail
root=${VEK_SOURCE_DIR:-$(cd "$(dirname "$0")/.." && pwd)}
cxx=${1:-${CXX:-c++}}
codec=$root/codec
# The files of the codec object, the only ones that may see its header.
top="vek_codec"

# The codec units that the compiler's -MM list for `unit`, read from standard
# input, names (itself left out).
units_included() {
  local unit=$1 header target
  for header in $("$cxx" -std=c++17 -MM -x c++ -I"$codec" -I"$codec/include" -I"$root/platform" - |
    tr ' \\' '\n\n' | grep -E "^$codec/[^/]+\.h$" || true); do
    target=$(basename "$header" .h)
    [ "$target" = "$unit" ] || printf ' %s' "$target"
  done
}

declare -A edges
units=()
for source in "$codec"/*.cpp; do
  unit=$(basename "$source" .cpp)
  case "$source" in *_win32.cpp) continue ;; esac
  [ "$unit" = dll_main ] && continue  # Windows entry point only
  units+=("$unit")
  edges[$unit]=$(units_included "$unit" < "$source")
done
# Headers without a source file are units too; their own includes count.
for header in "$codec"/*.h; do
  unit=$(basename "$header" .h)
  [ -n "${edges[$unit]+set}" ] && continue
  units+=("$unit")
  edges[$unit]=$(echo "#include \"$unit.h\"" | units_included "$unit")
done

status=0
# No stage reaches the codec object.
for unit in "${units[@]}"; do
  case " $top " in *" $unit "*) continue ;; esac
  for target in ${edges[$unit]}; do
    case " $top " in *" $target "*)
      echo "codec layers: $unit reaches $target (the codec object): arrows must point down" >&2
      status=1 ;;
    esac
  done
done
# No cycle: take away units that reach no remaining unit until none is left.
declare -A left
for unit in "${units[@]}"; do left[$unit]=1; done
progress=1
while [ "$progress" = 1 ]; do
  progress=0
  for unit in "${!left[@]}"; do
    blocked=0
    for target in ${edges[$unit]}; do
      [ -n "${left[$target]+set}" ] && { blocked=1; break; }
    done
    if [ "$blocked" = 0 ]; then unset "left[$unit]"; progress=1; fi
  done
done
if [ "${#left[@]}" -gt 0 ]; then
  echo "codec layers: a cycle, among or below these: ${!left[*]}" >&2
  for unit in "${!left[@]}"; do echo "  $unit ->${edges[$unit]}" >&2; done
  status=1
fi
[ "$status" = 0 ] && echo "codec layers: ${#units[@]} units, no cycle, nothing reaches the codec object"
exit $status
