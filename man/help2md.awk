# Reads a program's --help text and writes one part of it in the manual pages' markdown (see
# md2roff.awk). POSIX awk. The help text is read as the programs write it:
#
#   Usage: prog [options]             the usage line; indented lines below it are more usages
#   Text at the left margin.          description
#   Options:                          a section: a line at the left margin ending in ":"
#     -x, --xyz VALUE   What it does. an entry: indented by two, then two or more spaces;
#                       more of it.   deeper indented lines continue the entry's text
#
# Usage: awk -v part=PART [-v section=NAME] [-v skip=REGEX] -f help2md.awk
#   part=usage      the usage lines, a line each
#   part=text       the description lines outside any section
#   part=entries    the entries of the named section (its heading up to " (" or ":"), as tagged
#                   paragraphs; terms matching skip are left out
#   part=names      the terms of the named section and their texts, tab-separated (for commands)

# Escapes the characters that the markdown dialect gives a meaning.
function md(text) {
  gsub(/\\/, "\\\\", text)
  gsub(/`/, "\\`", text)
  gsub(/\*/, "\\*", text)
  return text
}

# Marks up the words of a usage line or of an entry's term: options as literals, placeholders
# (<name>, words with capitals) in italics, other words as literals; in a usage line, the
# program's and the command's name in bold and the words after the first option in italics.
function words(text, usage,    out, piece, seen_option) {
  out = ""
  while (text != "") {
    if (match(text, /^[A-Za-z0-9_.\/-]+/)) {
      piece = substr(text, 1, RLENGTH)
      text = substr(text, RLENGTH + 1)
      if (piece ~ /^-/) {
        out = out "`" piece "`"
        seen_option = 1
      } else if (piece ~ /[A-Z]/ || (usage && seen_option) || placeholder) {
        out = out "*" md(piece) "*"
        seen_option = usage
      } else {
        out = out (usage ? "**" md(piece) "**" : "`" piece "`")
      }
    } else {
      piece = substr(text, 1, 1)
      text = substr(text, 2)
      if (piece == "<") placeholder = 1
      else if (piece == ">") placeholder = 0
      else {
        if (piece ~ /[[|]/) seen_option = usage
        out = out md(piece)
      }
    }
  }
  return out
}

# Prints a line of the description, after an empty line where a blank one parted it from the
# line before.
function print_text(line) {
  if (gap_due) print ""
  gap_due = 0
  described = 1
  print md(line)
}

function trim(text) {
  sub(/^ +/, "", text)
  sub(/ +$/, "", text)
  return text
}

# Ends the entry being read.
function close_entry() {
  if (term == "") return
  if (part == "entries" && heading == section && !(skip != "" && term ~ skip))
    printf "%s\n: %s\n\n", words(term, 0), md(text)
  if (part == "names" && heading == section) {
    if (text !~ /[.]$/) text = text "."
    printf "%s\t%s\n", term, toupper(substr(text, 1, 1)) substr(text, 2)
  }
  term = ""
}

/^[Uu]sage: / {
  sub(/^[Uu]sage: +/, "")
  if (part == "usage") print words($0, 1) "  "
  in_usage = 1
  next
}
in_usage && /^ +[^ ]/ {
  if (part == "usage") print words(trim($0), 1) "  "
  next
}
{ in_usage = 0 }
# A line at the left margin ending in ":" heads a section only when entries follow it; before
# anything else it was a sentence of the description that leads into its next line.
pending != "" {
  line = pending
  pending = ""
  if ($0 ~ /^  [^ ]/) {
    heading = line
    sub(/ *[(:].*$/, "", heading)
  } else {
    heading = ""
    if (part == "text") print_text(line)
  }
}
# A blank line within the description parts its paragraphs.
/^[ \t]*$/ {
  close_entry()
  if (described) gap_due = 1
  next
}
/^[^ ].*:$/ {
  close_entry()
  pending = $0
  next
}
/^  [^ ]/ && heading != "" {
  close_entry()
  line = trim($0)
  gap = match(line, /  +/)
  term = gap ? substr(line, 1, gap - 1) : line
  text = gap ? substr(line, gap + RLENGTH) : ""
  next
}
/^   +[^ ]/ && term != "" {
  text = text (text == "" ? "" : " ") trim($0)
  next
}
/^[^ ]/ {
  close_entry()
  heading = ""
  if (part == "text") print_text($0)
}
END {
  close_entry()
  if (pending != "" && part == "text") print_text(pending)
}
