#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ui/logtext.h"

namespace {

// The obvious model of the text: every character carries its own format.
struct TModel {
  QString Text;
  std::vector<uint16_t> Formats;

  void Append(const QString& text, uint16_t format, bool newParagraph) {
    // The separator continues the run before it; only the text starts a run of its own.
    if (newParagraph) Insert(Text.size(), QStringLiteral("\n"), InheritedFormat(Text.size()));
    Insert(Text.size(), text, format);
  }
  void Insert(qsizetype pos, const QString& text, uint16_t format) {
    Text.insert(pos, text);
    Formats.insert(Formats.begin() + pos, size_t(text.size()), format);
  }
  void Remove(qsizetype from, qsizetype to) {
    Text.remove(from, to - from);
    Formats.erase(Formats.begin() + from, Formats.begin() + to);
  }
  // Typed text continues the format of the character before it (the first one at the start).
  uint16_t InheritedFormat(qsizetype pos) const {
    if (Formats.empty()) return 0;
    return Formats[size_t(pos > 0 ? pos - 1 : 0)];
  }
};

// Checks paragraphs and per-character formats of the store against the model.
void ExpectSame(const TLogText& doc, const TModel& model) {
  ASSERT_EQ(doc.Text(), model.Text);
  const QStringList paragraphs = model.Text.split(u'\n');
  ASSERT_EQ(doc.ParagraphCount(), paragraphs.size());
  for (qsizetype i = 0; i < paragraphs.size(); ++i) {
    EXPECT_EQ(doc.ParagraphText(i).toString(), paragraphs[i]) << "paragraph " << i;
  }
  std::vector<uint16_t> formats(size_t(model.Text.size()), 0xFFFF);
  for (const TFormatSpan& span : doc.Spans(0, doc.Length())) {
    for (qsizetype k = 0; k < span.Length; ++k) formats[size_t(span.Start + k)] = span.Format;
  }
  for (size_t k = 0; k < formats.size(); ++k) {
    if (model.Text[qsizetype(k)] == u'\n') continue;  // a separator's format is never shown
    EXPECT_EQ(formats[k], model.Formats[k]) << "character " << k;
  }
}

TEST(LogText, StartsWithOneEmptyParagraph) {
  TLogText doc;
  EXPECT_EQ(doc.ParagraphCount(), 1);
  EXPECT_EQ(doc.ParagraphText(0).toString(), QString());
  EXPECT_EQ(doc.FormatAt(0), 0);
}

// One row per edit that once was easy to get wrong; each is checked against the model.
TEST(LogText, EditsKeepParagraphsAndFormats) {
  struct TCase {
    const char* Name;
    void (*Edit)(TLogText&, TModel&);
  };
  const TCase cases[] = {
      {"entries in alternating colours keep their own colour",
       [](TLogText& d, TModel& m) {
         for (int i = 0; i < 4; ++i) {
           d.Append(u"entry", uint16_t(1 + i % 2), true);
           m.Append(QStringLiteral("entry"), uint16_t(1 + i % 2), true);
         }
       }},
      {"typing at the start of a run takes the previous colour",
       [](TLogText& d, TModel& m) {
         d.Append(u"aa", 1, false), m.Append(QStringLiteral("aa"), 1, false);
         d.Append(u"bb", 2, false), m.Append(QStringLiteral("bb"), 2, false);
         d.Insert(2, u"x"), m.Insert(2, QStringLiteral("x"), 1);
       }},
      {"typing at offset zero keeps the first run in place",
       [](TLogText& d, TModel& m) {
         d.Append(u"aa", 1, false), m.Append(QStringLiteral("aa"), 1, false);
         d.Insert(0, u"y"), m.Insert(0, QStringLiteral("y"), 1);
       }},
      {"a typed line break splits a paragraph",
       [](TLogText& d, TModel& m) {
         d.Append(u"abcd", 1, true), m.Append(QStringLiteral("abcd"), 1, true);
         d.Insert(3, u"\n"), m.Insert(3, QStringLiteral("\n"), 1);
       }},
      {"deleting a separator joins paragraphs",
       [](TLogText& d, TModel& m) {
         d.Append(u"ab", 1, true), m.Append(QStringLiteral("ab"), 1, true);
         d.Append(u"cd", 2, true), m.Append(QStringLiteral("cd"), 2, true);
         d.Remove(3, 4), m.Remove(3, 4);
       }},
      {"deleting across runs keeps the colour after the cut",
       [](TLogText& d, TModel& m) {
         d.Append(u"aaa", 1, false), m.Append(QStringLiteral("aaa"), 1, false);
         d.Append(u"bbb", 2, false), m.Append(QStringLiteral("bbb"), 2, false);
         d.Append(u"ccc", 3, false), m.Append(QStringLiteral("ccc"), 3, false);
         d.Remove(1, 7), m.Remove(1, 7);
       }},
      {"deleting a whole run from its start drops it",
       [](TLogText& d, TModel& m) {
         d.Append(u"aaa", 1, false), m.Append(QStringLiteral("aaa"), 1, false);
         d.Append(u"bbb", 2, false), m.Append(QStringLiteral("bbb"), 2, false);
         d.Remove(0, 3), m.Remove(0, 3);
       }},
      {"append after deleting the tail starts a fresh run",
       [](TLogText& d, TModel& m) {
         d.Append(u"aaa", 1, false), m.Append(QStringLiteral("aaa"), 1, false);
         d.Append(u"bbb", 2, false), m.Append(QStringLiteral("bbb"), 2, false);
         d.Remove(2, 6), m.Remove(2, 6);
         d.Append(u"c", 3, false), m.Append(QStringLiteral("c"), 3, false);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TLogText doc;
    TModel model;
    c.Edit(doc, model);
    ExpectSame(doc, model);
  }
}

// Random appends, insertions and removals, as a user typing into a running log would mix them.
TEST(LogText, RandomEditsMatchModel) {
  std::mt19937 random(12345);
  const QString alphabet = QStringLiteral("ab \n");
  for (int round = 0; round < 200; ++round) {
    TLogText doc;
    TModel model;
    std::string history;  // the edits so far, shown when a check fails
    for (int step = 0; step < 40; ++step) {
      const qsizetype length = model.Text.size();
      const qsizetype pos = qsizetype(random() % size_t(length + 1));
      QString text;
      for (int k = int(random() % 4); k > 0; --k) text += alphabet[int(random() % 4)];
      switch (random() % 3) {
        case 0: {
          const auto format = uint16_t(random() % 3);
          const bool para = random() % 2 == 0;
          history += "Append(" + text.toStdString() + "," + std::to_string(format) + "," +
                     std::to_string(para) + ") ";
          doc.Append(text, format, para);
          model.Append(text, format, para);
          break;
        }
        case 1:
          history += "Insert(" + std::to_string(pos) + "," + text.toStdString() + ") ";
          model.Insert(pos, text, model.InheritedFormat(pos));
          doc.Insert(pos, text);
          break;
        default: {
          const qsizetype to = pos + qsizetype(random() % size_t(length - pos + 1));
          history += "Remove(" + std::to_string(pos) + "," + std::to_string(to) + ") ";
          doc.Remove(pos, to);
          model.Remove(pos, to);
        }
      }
      SCOPED_TRACE(history);
      ExpectSame(doc, model);
      if (HasFailure()) return;
    }
  }
}

TEST(LogText, ClearLeavesOneEmptyParagraph) {
  TLogText doc;
  doc.Append(u"abc", 2, true);
  doc.Clear();
  EXPECT_EQ(doc.Length(), 0);
  EXPECT_EQ(doc.ParagraphCount(), 1);
  doc.Append(u"x", 1, false);
  EXPECT_EQ(doc.Text(), QStringLiteral("x"));
  EXPECT_EQ(doc.FormatAt(0), 1);
}

TEST(LogText, ParagraphAtPutsSeparatorInParagraphBefore) {
  TLogText doc;
  doc.Append(u"ab", 1, false);
  doc.Append(u"cd", 1, true);  // "ab\ncd"
  EXPECT_EQ(doc.ParagraphAt(2), 0);
  EXPECT_EQ(doc.ParagraphAt(3), 1);
  EXPECT_EQ(doc.ParagraphAt(5), 1);
  EXPECT_EQ(doc.ParagraphEnd(0), 2);
  EXPECT_EQ(doc.ParagraphEnd(1), 5);
}

}  // namespace
