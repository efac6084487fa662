#!/usr/bin/env bash
# Checks that no library includes a header of a library it does not build on, directly or
# through the libraries it builds on, and that every library folder under src/ has its place.
# A header belongs to the library of its folder: "serial/comport.h" to src/serial, "sim/board.h"
# to sim.
# Usage: includes_test.sh SOURCE_ROOT LAYERS
#        includes_test.sh --self-test
# LAYERS has one line per library: its folder (relative to SOURCE_ROOT), then the names of the
# libraries (their folders' last parts) it builds on directly. "#" starts a comment.
set -uo pipefail

# check ROOT LAYERS: prints every include a library may not make and every library folder
# without a line; fails if there is one.
check() {
  local root=$1 layers=$2
  local -A folder_of=() below=()
  local folder rest name
  while read -r folder rest; do
    [[ -z "$folder" || "$folder" == \#* ]] && continue
    name=${folder##*/}
    folder_of[$name]=$folder
    below[$name]=$rest
  done <"$layers"

  local failures=0 file included owner reach
  for folder in "$root"/src/*/; do
    folder=${folder%/}
    name=${folder##*/}
    [[ -n "${folder_of[$name]:-}" ]] && continue
    echo "src/$name has no line in ${layers##*/}"
    failures=$((failures + 1))
  done
  for name in "${!folder_of[@]}"; do
    reach=" $(closure "$name") "
    for file in "$root/${folder_of[$name]}"/*.{h,cpp}; do
      [[ -f "$file" ]] || continue
      while read -r included; do
        owner=${included%%/*}
        [[ -z "${folder_of[$owner]:-}" || "$owner" == "$name" || "$reach" == *" $owner "* ]] && continue
        echo "${file#"$root"/} includes \"$included\", but ${folder_of[$name]} does not build on ${folder_of[$owner]}"
        failures=$((failures + 1))
      done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+\/[^"]+)".*/\1/p' "$file")
    done
  done
  [[ $failures -eq 0 ]]
}

# closure NAME: the libraries NAME builds on, directly or through them (uses check's below).
closure() {
  local -A seen=()
  local pending=("$1") n next
  while [[ ${#pending[@]} -gt 0 ]]; do
    n=${pending[0]}
    pending=("${pending[@]:1}")
    for next in ${below[$n]:-}; do
      [[ -n "${seen[$next]:-}" ]] && continue
      seen[$next]=1
      pending+=("$next")
    done
  done
  echo "${!seen[@]}"
}

# The check itself on a small tree: building on a library through another is enough; an
# include from a library not built on, and a library folder without a line, are reported.
self_test() {
  local tree
  tree=$(mktemp -d) || return 1
  trap 'rm -rf "$tree"' RETURN
  mkdir -p "$tree/src/low" "$tree/src/mid" "$tree/src/top" "$tree/tool"
  echo '#include <vector>' >"$tree/src/low/low.h"
  echo '#include "low/low.h"' >"$tree/src/mid/mid.h"
  printf '#include "mid/mid.h"\n#include "low/low.h"\n#include "top.h"\n' >"$tree/src/top/top.cpp"
  echo '#include "top/top.h"' >"$tree/tool/tool.cpp"
  printf '# comment\nsrc/low\nsrc/mid low\n\nsrc/top mid\ntool low\n' >"$tree/layers"
  local output
  output=$(check "$tree" "$tree/layers") && { echo "FAIL: tool/ includes top/ without building on it, not reported"; return 1; }
  [[ "$output" == 'tool/tool.cpp includes "top/top.h", but tool does not build on src/top' ]] ||
    { echo "FAIL: unexpected report: $output"; return 1; }
  printf 'src/low\nsrc/mid low\nsrc/top mid\ntool top\n' >"$tree/layers"
  output=$(check "$tree" "$tree/layers") || { echo "FAIL: building on a library through another was refused: $output"; return 1; }
  printf 'src/low\nsrc/top low\ntool top\n' >"$tree/layers"
  output=$(check "$tree" "$tree/layers") && { echo "FAIL: src/mid without a line, not reported"; return 1; }
  [[ "$output" == *'src/mid has no line in layers'* ]] ||
    { echo "FAIL: unexpected report: $output"; return 1; }
  echo "ok   the check reports a library not built on and a folder without a line, and accepts building through another library"
}

if [[ "${1:-}" == "--self-test" ]]; then
  self_test
else
  check "$1" "$2" && echo "ok   every library includes only headers of the libraries it builds on"
fi
