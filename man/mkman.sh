#!/usr/bin/env bash
# Writes a manual page in roff from its markdown source, taking what the program's own help says
# from the program itself, so that the page never falls behind the program.
# Usage: mkman.sh SOURCE.md OUTPUT NAME SECTION "FOOTER SOURCE" DATE [PROGRAM]
# Lines of the source that stand for parts of PROGRAM's help (see help2md.awk):
#   @USAGE@           the usage lines of PROGRAM --help
#   @ENTRIES Name@    the entries of its "Name:" section, for example @ENTRIES Options@
#   @COMMANDS@        for each entry of its "Commands:" section, a subsection with the usage,
#                     summary, text and options of PROGRAM <command> --help
set -euo pipefail
source_md=$1 output=$2 name=$3 section=$4 footer=$5 date=$6 program=${7:-}
here=$(cd "$(dirname "$0")" && pwd)
help_file=$(mktemp)
trap 'rm -f "$help_file" "$output.tmp"' EXIT

help2md() { awk -f "$here/help2md.awk" "$@" <"$help_file"; }

commands() {
  local names command summary text
  "$program" --help >"$help_file"
  names=$(help2md -v part=names -v section=Commands)
  while IFS=$'\t' read -r command summary; do
    "$program" "$command" --help </dev/null >"$help_file"
    printf '## %s\n\n' "$command"
    help2md -v part=usage
    # The command's own description says all its summary says, and more: the summary stands
    # only where a command has no description.
    text=$(help2md -v part=text)
    printf '\n%s\n\n' "${text:-$summary}"
    help2md -v part=entries -v section=Arguments
    help2md -v part=entries -v section=Options -v skip='--help$'
  done <<<"$names"
}

expand() {
  local line
  while IFS= read -r line; do
    case $line in
      @USAGE@) "$program" --help >"$help_file" && help2md -v part=usage ;;
      "@ENTRIES "*@)
        local wanted=${line#@ENTRIES }
        "$program" --help >"$help_file" && help2md -v part=entries -v section="${wanted%@}" ;;
      @COMMANDS@) commands ;;
      *) printf '%s\n' "$line" ;;
    esac
  done <"$source_md"
}

expand | awk -v title="$name" -v section="$section" -v source="$footer" -v date="$date" \
  -f "$here/md2roff.awk" >"$output.tmp"
mv "$output.tmp" "$output"
