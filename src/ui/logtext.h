#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <vector>

// A span of text in one character format, relative to the start of the range it was asked for.
struct TFormatSpan {
  qsizetype Start = 0;
  qsizetype Length = 0;
  uint16_t Format = 0;
};

// The text of the log pane, kept compactly so that a log of a million entries stays small:
// one text buffer with '\n' between paragraphs, the start offset of each paragraph, and
// format runs (start offset and format index) that change only where the format changes.
// Positions are character offsets into the text, as in the pane's plain text.
class TLogText {
 public:
  // Creates an empty text: one empty paragraph in format 0.
  TLogText();

  // Returns the whole text, paragraphs separated by '\n'.
  const QString& Text() const { return FText; }
  // Returns the number of characters, separators included.
  qsizetype Length() const { return FText.size(); }
  // Returns the number of paragraphs (at least one).
  qsizetype ParagraphCount() const { return qsizetype(FStarts.size()); }
  // Returns the offset of the first character of paragraph i.
  qsizetype ParagraphStart(qsizetype i) const { return FStarts[size_t(i)]; }
  // Returns the offset just past the last character of paragraph i, before its separator.
  qsizetype ParagraphEnd(qsizetype i) const;
  // Returns the paragraph that holds position pos (a separator belongs to the paragraph before).
  qsizetype ParagraphAt(qsizetype pos) const;
  // Returns the text of paragraph i without its separator.
  QStringView ParagraphText(qsizetype i) const;
  // Returns the format of the character at pos (of the last character when pos is the end).
  uint16_t FormatAt(qsizetype pos) const;
  // Returns the format runs that cover [from, to), relative to from, in order.
  QList<TFormatSpan> Spans(qsizetype from, qsizetype to) const;

  // Appends text (which may hold '\n') in the given format, as a new paragraph when
  // newParagraph is set.
  void Append(QStringView text, uint16_t format, bool newParagraph);
  // Inserts text (which may hold '\n') at pos; it takes the format of the character before it.
  void Insert(qsizetype pos, QStringView text);
  // Removes the characters [from, to); separators among them join paragraphs.
  void Remove(qsizetype from, qsizetype to);
  // Empties the text: one empty paragraph in format 0.
  void Clear();

 private:
  size_t RunAt(qsizetype pos) const;
  void AddRun(qsizetype start, uint16_t format);
  void RemoveRuns(qsizetype from, qsizetype to);

  QString FText;
  std::vector<qsizetype> FStarts;     // paragraph starts, ascending, the first is 0
  std::vector<qsizetype> FRunStarts;  // format run starts, ascending, the first is 0
  std::vector<uint16_t> FRunFormats;  // the format of each run
};
