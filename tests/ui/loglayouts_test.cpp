// The log view's store of paragraph layouts: found while kept, dropped from a changed paragraph
// on, the least recently used dropped first beyond the capacity.
#include <gtest/gtest.h>

#include <vector>

#include "ui/loglayouts.h"

namespace {

TLogLayouts::TLayout LayoutOf(qsizetype paragraph) {
  return std::make_shared<QTextLayout>(QString::number(paragraph));
}

// Returns the paragraphs among 0..9 that have a layout kept, checking each is its own.
std::vector<qsizetype> Kept(TLogLayouts& layouts) {
  std::vector<qsizetype> kept;
  for (qsizetype i = 0; i < 10; ++i) {
    const auto layout = layouts.Find(i);
    if (!layout) continue;
    EXPECT_EQ(layout->text(), QString::number(i));
    kept.push_back(i);
  }
  return kept;
}

struct TRow {
  const char* Name;
  size_t Capacity;
  std::vector<qsizetype> Put;  // in this order, -1 stands for a Find of paragraph 0
  qsizetype DropFrom;          // -1: nothing dropped
  std::vector<qsizetype> Kept;
};

const TRow kRows[] = {
    {"all kept within the capacity", 4, {0, 1, 2}, -1, {0, 1, 2}},
    {"the oldest goes beyond the capacity", 2, {0, 1, 2}, -1, {1, 2}},
    {"a layout found is no longer the oldest", 2, {0, 1, -1, 2}, -1, {0, 2}},
    {"a paragraph put again replaces its layout", 2, {0, 0, 1}, -1, {0, 1}},
    {"a change drops its paragraph and those after", 8, {0, 3, 5, 7}, 5, {0, 3}},
    {"a change after the last kept drops nothing", 8, {0, 3}, 4, {0, 3}},
    {"a change at the start drops all", 8, {0, 3}, 0, {}},
};

TEST(LogLayouts, KeepsRecentLayoutsUntilTheirParagraphChanges) {
  for (const TRow& row : kRows) {
    SCOPED_TRACE(row.Name);
    TLogLayouts layouts;
    layouts.SetCapacity(row.Capacity);
    for (qsizetype p : row.Put) {
      if (p < 0) layouts.Find(0);
      else layouts.Put(p, LayoutOf(p));
    }
    if (row.DropFrom >= 0) layouts.DropFrom(row.DropFrom);
    EXPECT_EQ(Kept(layouts), row.Kept);
  }
}

TEST(LogLayouts, ALayoutInUseOutlivesItsDropping) {
  TLogLayouts layouts;
  layouts.Put(1, LayoutOf(1));
  const auto inUse = layouts.Find(1);
  layouts.Clear();
  EXPECT_EQ(layouts.Size(), 0u);
  EXPECT_EQ(inUse->text(), QStringLiteral("1"));
}

}  // namespace
