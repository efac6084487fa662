// The log's text store (paragraphs and runs of formats) checked against an obvious model.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ui/logtext.h"

namespace {

// The obvious model of the text: every character carries its own format.
struct TModel {
  QString Text;
  std::vector<uint16_t> Formats;

  void Insert(qsizetype pos, const QString& text, uint16_t format) {
    Text.insert(pos, text);
    Formats.insert(Formats.begin() + pos, size_t(text.size()), format);
  }
  // Typed text continues the format of the character before it (the first one at the start).
  uint16_t InheritedFormat(qsizetype pos) const {
    return Formats.empty() ? 0 : Formats[size_t(pos > 0 ? pos - 1 : 0)];
  }
};

// Checks paragraphs and per-character formats of the store against the model.
void ExpectSame(const TLogText& doc, const TModel& model) {
  ASSERT_EQ(doc.Text(), model.Text);
  const QStringList paragraphs = model.Text.split(u'\n');
  ASSERT_EQ(doc.ParagraphCount(), paragraphs.size());
  for (qsizetype i = 0; i < paragraphs.size(); ++i)
    EXPECT_EQ(doc.ParagraphText(i).toString(), paragraphs[i]) << "paragraph " << i;
  std::vector<uint16_t> formats(size_t(model.Text.size()), 0xFFFF);
  for (const TFormatSpan& span : doc.Spans(0, doc.Length()))
    for (qsizetype k = 0; k < span.Length; ++k) formats[size_t(span.Start + k)] = span.Format;
  for (size_t k = 0; k < formats.size(); ++k) {
    if (model.Text[qsizetype(k)] == u'\n') continue;  // a separator's format is never shown
    EXPECT_EQ(formats[k], model.Formats[k]) << "character " << k;
  }
}

// Random appends, insertions and removals, as a user typing into a running log would mix them.
// They hit what is easy to get wrong: typing at a run's start or at offset 0, typed and deleted
// separators, deletions across runs and of whole runs, appends after a deleted tail.
TEST(LogText, RandomEditsMatchModel) {
  std::mt19937 random(12345);
  for (int round = 0; round < 200; ++round) {
    TLogText doc;
    TModel model;
    for (int step = 0; step < 40; ++step) {
      const qsizetype length = model.Text.size();
      const auto pos = qsizetype(random() % size_t(length + 1));
      const auto to = pos + qsizetype(random() % size_t(length - pos + 1));
      QString text;
      for (int k = int(random() % 4); k > 0; --k) text += QLatin1Char("ab \n"[random() % 4]);
      const auto format = uint16_t(random() % 3);
      const int kind = int(random() % 4);  // new paragraph, append, insert, remove
      if (kind < 2) {
        // The separator of a new paragraph continues the run before it.
        if (kind == 0) model.Insert(length, QStringLiteral("\n"), model.InheritedFormat(length));
        model.Insert(model.Text.size(), text, format);
        doc.Append(text, format, kind == 0);
      } else if (kind == 2) {
        model.Insert(pos, text, model.InheritedFormat(pos));
        doc.Insert(pos, text);
      } else {
        model.Text.remove(pos, to - pos);
        model.Formats.erase(model.Formats.begin() + pos, model.Formats.begin() + to);
        doc.Remove(pos, to);
      }
      SCOPED_TRACE("round " + std::to_string(round) + ", step " + std::to_string(step));
      ExpectSame(doc, model);
      if (HasFailure()) return;
    }
  }
}

// Clear leaves one empty paragraph, and what is appended next keeps its own format; a
// paragraph's separator belongs to the paragraph before it.
TEST(LogText, ClearAndParagraphPositions) {
  TLogText doc;
  doc.Append(u"abc", 2, true);
  doc.Clear();
  EXPECT_EQ(doc.Length(), 0);
  EXPECT_EQ(doc.ParagraphCount(), 1);
  doc.Append(u"ab", 1, false);
  doc.Append(u"cd", 1, true);  // "ab\ncd"
  EXPECT_EQ(doc.Text(), QStringLiteral("ab\ncd"));
  EXPECT_EQ(doc.FormatAt(0), 1);
  const std::pair<qsizetype, qsizetype> paragraphOf[] = {{0, 0}, {2, 0}, {3, 1}, {5, 1}};
  for (const auto& [pos, paragraph] : paragraphOf)
    EXPECT_EQ(doc.ParagraphAt(pos), paragraph) << pos;
  EXPECT_EQ(doc.ParagraphEnd(0), 2);
  EXPECT_EQ(doc.ParagraphEnd(1), 5);
}

}  // namespace
