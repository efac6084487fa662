#!/usr/bin/env bash
# The manual pages: the markdown-to-roff converter, the reading of the programs' help, and the
# pages the build made from them. Usage: man_test.sh MAN_SOURCE_DIR BUILT_MAN_DIR ZIRV7CTL ZIRV7SIM
set -uo pipefail
tools=$1 built=$2 ctl=$3 sim=$4
failures=0

# expect NAME ACTUAL EXPECTED: ACTUAL must contain the line(s) EXPECTED.
expect() {
  if [[ "$2" == *"$3"* ]]; then
    echo "ok   $1"
  else
    printf 'FAIL %s\n--- expected to contain:\n%s\n--- got:\n%s\n' "$1" "$3" "$2"
    failures=$((failures + 1))
  fi
}
roff() { printf '%b' "$1" | awk -v title=t -v section=1 -f "$tools/md2roff.awk"; }
help_md() { printf '%b' "$2" | awk -v part="$1" -v section="${3:-}" -f "$tools/help2md.awk"; }

# Text that roff would take for its own requests or escapes must come out as text.
expect leading_dot_stays_text "$(roff '.profile is read\n')" '\&.profile is read'
expect leading_quote_stays_text "$(roff "'quoted' first\n")" "\\&'quoted' first"
expect backslash_stays_text "$(roff 'a\\\\b\n')" 'a\eb'
expect utf8_dashes_render_anywhere "$(roff 'a \342\200\224 b \342\200\223 c\n')" 'a \(em b \(en c'
expect escaped_star_is_no_italic "$(roff '\\*.pset files\n')" '*.pset files'
# Options must be minus signs (copy-paste works) and a command must not break across lines.
expect code_hyphens_are_minus "$(roff 'Run `--help` now\n')" 'Run \fB\-\-help\fR now'
expect code_spaces_do_not_break "$(roff '`id -nG`\n')" '\fBid\~\-nG\fR'
expect emphasis "$(roff '*FILE* and **bold**\n')" '\fIFILE\fR and \fBbold\fR'
expect name_dash "$(roff '# NAME\n\nprog - does things\n')" 'prog \- does things'
expect tagged_paragraph "$(roff '`-x`\n: Does x,\n  and more.\n')" $'.TP\n\\fB\\-x\\fR\nDoes x,\nand more.'
expect literal_block "$(roff 'Run:\n\n    a -b\n    .c\n')" $'.RS 4\n.nf\na \\-b\n\\&.c\n.fi'
expect hard_break_only_between_lines "$(roff 'one  \ntwo  \n' | tail -3)" $'one\n.br\ntwo'

# The programs' help as the pages read it.
expect usage_words "$(help_md usage 'Usage: prog run <file> [--all] [options]\n')" \
  '**prog** **run** *file* [`--all`] [*options*]  '
expect entry_continues "$(help_md entries 'Options:\n  --x N   First\n          second.\n' Options)" \
  $'`--x` *N*\n: First second.'
expect section_by_name "$(help_md entries 'A:\n  a   in A\nB (see):\n  b   in B\n' B)" $'`b`\n: in B'
expect command_names "$(help_md names 'Commands:\n  ports     list them\n' Commands)" $'ports\tList them.'
# A sentence that ends its line with ":" is description, not a section, unless entries follow.
expect colon_line_is_text "$(help_md text 'Usage: p\nRuns tests and prints:\nrise, peak.\n\nOptions:\n  --x  X.\n')" \
  $'Runs tests and prints:\nrise, peak.'
expect section_after_colon_line "$(help_md entries 'Runs and prints:\nrise.\n\nOptions:\n  --x  X.\n' Options)" \
  $'`--x`\n: X.'

# The pages the build made follow the programs.
page() { cat "$built/$1.1"; }
for name in zirv7tune zirv7-sim zirv7ctl; do
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS FILES ENVIRONMENT EXAMPLES "SEE ALSO"; do
    expect "${name}_has_${heading// /_}" "$(page "$name")" ".SH \"$heading\""
  done
done
while read -r command _; do
  expect "zirv7ctl_page_has_command_$command" "$(page zirv7ctl)" ".SS \"$command\""
done < <("$ctl" --help | sed -n '/^Commands:/,/^$/{/^  [a-z]/p}')
while read -r option; do
  expect "zirv7-sim_page_has_option_$option" "$(page zirv7-sim)" "\\fB${option//-/\\-}\\fR"
done < <("$sim" --help | sed -n '/^Options:/,/^$/p' | grep -oE -- '--[a-z-]+')
if command -v man >/dev/null; then
  for name in zirv7tune zirv7-sim zirv7ctl; do
    expect "${name}_renders_without_warnings" \
      "[$(MANWIDTH=80 man --warnings -l "$built/$name.1" 2>&1 >/dev/null)]" "[]"
  done
fi

[[ $failures -eq 0 ]]
