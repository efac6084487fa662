# Turns the small markdown dialect of the manual pages into man(7) roff. POSIX awk (mawk, gawk).
# Usage: awk -v title=NAME -v section=1 -v source="zirv7tune 0.1" -v date=YYYY-MM-DD -f md2roff.awk
#
#   # NAME                a section;  ## Name  a subsection
#   text lines            a paragraph, filled; a line ending in two spaces breaks the line there
#   - item                a bullet item; its further lines are indented by two spaces
#   term                  a tagged paragraph: the term on its own line, then ": " and the text,
#   : text                whose further lines are indented by two spaces
#       code              a literal block (indented by four spaces), shown as it is
#   `code` **bold** *italic*   inline; \` \* \\ stand for the characters themselves
# In the NAME section, the first " - " becomes the roff dash that separates name and summary.

# Escapes roff's own characters in plain text; in literal text a hyphen is the minus sign that
# a command line needs. Dashes arrive as the stand-ins that inline() made of them.
function escape(text, literal) {
  gsub(/\\/, "\\e", text)
  if (literal) gsub(/-/, "\\-", text)
  gsub(/\001/, "\\(em", text)
  gsub(/\002/, "\\(en", text)
  return text
}

# Converts the inline markup of one line. UTF-8 dashes and apostrophes become roff's own
# characters, which render in any locale.
function inline(text,    out, piece, c, n, i, j, bold, italic) {
  gsub(/\342\200\224/, "\001", text)
  gsub(/\342\200\223/, "\002", text)
  gsub(/\342\200\231/, "'", text)
  out = ""
  n = length(text)
  for (i = 1; i <= n; i++) {
    c = substr(text, i, 1)
    if (c == "\\" && i < n && index("`*\\", substr(text, i + 1, 1))) {
      out = out escape(substr(text, ++i, 1), 0)
    } else if (c == "`" && (j = index(substr(text, i + 1), "`")) > 0) {
      piece = escape(substr(text, i + 1, j - 1), 1)
      gsub(/ /, "\\~", piece)  # a command stays on one line
      out = out "\\fB" piece "\\fR"
      i += j
    } else if (substr(text, i, 2) == "**") {
      bold = !bold
      out = out (bold ? "\\fB" : "\\fR")
      i++
    } else if (c == "*") {
      italic = !italic
      out = out (italic ? "\\fI" : "\\fR")
    } else {
      out = out escape(c, bold || italic)  # emphasised words are names and paths: kept whole
    }
  }
  return out
}

# Writes one output line; a line that would start with a control character is protected.
function emit(text) {
  if (text ~ /^[.']/) text = "\\&" text
  print text
}

# Writes the text of a paragraph line; a hard break at its end counts when more text follows.
function emit_text(text, next_line,    hard) {
  hard = text ~ /  $/ && next_line !~ /^[ \t]*$/
  sub(/^ +/, "", text)
  sub(/ +$/, "", text)
  text = inline(text)
  if (current == "NAME") sub(/ - /, " \\- ", text)
  emit(text)
  if (hard) print ".br"
}

# Starts a new paragraph unless a heading has just started one.
function paragraph() {
  if (!fresh) print ".PP"
  fresh = 0
}

{ lines[++count] = $0 }

END {
  printf ".TH \"%s\" \"%s\" \"%s\" \"%s\" \"User Commands\"\n", toupper(title), section, date, source
  # Ragged right and no hyphenation: commands and paths stay whole and readable.
  print ".ad l\n.nh"
  for (i = 1; i <= count; i++) {
    line = lines[i]
    if (line ~ /^[ \t]*$/) continue
    if (line ~ /^# /) {
      current = toupper(substr(line, 3))
      print ".SH \"" current "\""
      fresh = 1
    } else if (line ~ /^## /) {
      print ".SS \"" inline(substr(line, 4)) "\""
      fresh = 1
    } else if (line ~ /^    /) {
      paragraph()
      print ".RS 4\n.nf"
      for (; i <= count && (lines[i] ~ /^    / || (lines[i] == "" && lines[i + 1] ~ /^    /)); i++)
        emit(escape(substr(lines[i], 5), 1))
      i--
      print ".fi\n.RE"
    } else if (line ~ /^- /) {
      print ".IP \\(bu 2"
      emit_text(substr(line, 3))
      for (; lines[i + 1] ~ /^  [^ ]/; i++) emit_text(lines[i + 1])
      fresh = 0
    } else if (lines[i + 1] ~ /^: /) {
      print ".TP"
      emit_text(line)
      emit_text(substr(lines[++i], 3))
      for (; lines[i + 1] ~ /^  [^ ]/; i++) emit_text(lines[i + 1])
      fresh = 0
    } else {
      paragraph()
      for (; i <= count && lines[i] !~ /^[ \t]*$/ && lines[i] !~ /^(#|- |    )/ && lines[i + 1] !~ /^: /; i++)
        emit_text(lines[i], lines[i + 1])
      i--
    }
  }
}
