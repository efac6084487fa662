#!/usr/bin/env bash
# Checks that no library includes a header of a library it does not link, directly or through
# what it links. A header belongs to the library of its folder: "serial/comport.h" to the
# library made of src/serial, "sim/board.h" to the one made of sim/.
# Usage: includes_test.sh SOURCE_ROOT LINK_GRAPH
#        includes_test.sh --self-test
# LINK_GRAPH has one line per library: its folder (relative to SOURCE_ROOT), its target and
# the targets it links directly.
set -uo pipefail

# check ROOT GRAPH: prints every include a library may not make; fails if there is one.
check() {
  local root=$1 graph=$2
  local -A target_of=() links_of=() folder_of=()
  local folder target rest
  while read -r folder target rest; do
    [[ -n "$folder" ]] || continue
    target_of[${folder##*/}]=$target
    folder_of[$target]=$folder
    links_of[$target]=$rest
  done <"$graph"

  local failures=0 file included owner reach
  for target in "${!folder_of[@]}"; do
    reach=" $(closure "$target") "
    for file in "$root/${folder_of[$target]}"/*.{h,cpp}; do
      [[ -f "$file" ]] || continue
      while read -r included; do
        owner=${target_of[${included%%/*}]:-}
        [[ -z "$owner" || "$owner" == "$target" || "$reach" == *" $owner "* ]] && continue
        echo "${file#"$root"/} includes \"$included\", but $target does not link $owner"
        failures=$((failures + 1))
      done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+\/[^"]+)".*/\1/p' "$file")
    done
  done
  [[ $failures -eq 0 ]]
}

# closure TARGET: the targets TARGET links, directly or through them (uses check's links_of).
closure() {
  local -A seen=()
  local pending=("$1") t next
  while [[ ${#pending[@]} -gt 0 ]]; do
    t=${pending[0]}
    pending=("${pending[@]:1}")
    for next in ${links_of[$t]:-}; do
      [[ -n "${seen[$next]:-}" ]] && continue
      seen[$next]=1
      pending+=("$next")
    done
  done
  echo "${!seen[@]}"
}

# The check itself on a small tree: a link through another library is enough, no link is not.
self_test() {
  local tree
  tree=$(mktemp -d) || return 1
  trap 'rm -rf "$tree"' RETURN
  mkdir -p "$tree/src/low" "$tree/src/mid" "$tree/src/top" "$tree/tool"
  echo '#include <vector>' >"$tree/src/low/low.h"
  echo '#include "low/low.h"' >"$tree/src/mid/mid.h"
  printf '#include "mid/mid.h"\n#include "low/low.h"\n#include "top.h"\n' >"$tree/src/top/top.cpp"
  echo '#include "top/top.h"' >"$tree/tool/tool.cpp"
  printf 'src/low low\nsrc/mid mid low Qt6::Core\nsrc/top top mid\ntool tool low\n' >"$tree/graph"
  local output
  output=$(check "$tree" "$tree/graph") && { echo "FAIL: tool/ includes top/ without linking it, not reported"; return 1; }
  [[ "$output" == 'tool/tool.cpp includes "top/top.h", but tool does not link top' ]] ||
    { echo "FAIL: unexpected report: $output"; return 1; }
  printf 'src/low low\nsrc/mid mid low\nsrc/top top mid\ntool tool top\n' >"$tree/graph"
  output=$(check "$tree" "$tree/graph") || { echo "FAIL: a link through another library was refused: $output"; return 1; }
  echo "ok   the check reports a missing link and accepts one made through another library"
}

if [[ "${1:-}" == "--self-test" ]]; then
  self_test
else
  check "$1" "$2" && echo "ok   every library links the libraries whose headers it includes"
fi
