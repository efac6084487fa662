#pragma once

#include <QTextLayout>
#include <cstdint>
#include <memory>
#include <unordered_map>

// The layouts of the log view's paragraphs that were painted or measured lately. Every paint
// asks again for the rows on screen and for the last screenful (the scroll bar's range), and an
// entry arriving at the end changes none of them, so keeping them lets a paint lay out only
// what is new. The number kept is bounded, so memory does not grow with the log.
class TLogLayouts {
 public:
  using TLayout = std::shared_ptr<const QTextLayout>;

  // Returns the layout kept for paragraph, or null when there is none; marks it as just used.
  TLayout Find(qsizetype paragraph);
  // Keeps layout for paragraph; beyond the capacity the least recently used ones are dropped.
  void Put(qsizetype paragraph, TLayout layout);
  // Drops the layouts of paragraph from and of every paragraph after it.
  void DropFrom(qsizetype from);
  // Drops every layout.
  void Clear() { FKept.clear(); }
  // Sets how many layouts are kept at most (at least one).
  void SetCapacity(size_t capacity) { FCapacity = capacity > 0 ? capacity : 1; }
  // Returns how many layouts are kept.
  size_t Size() const { return FKept.size(); }

 private:
  struct TKept {
    TLayout Layout;
    uint64_t Used = 0;
  };

  std::unordered_map<qsizetype, TKept> FKept;
  uint64_t FClock = 0;
  size_t FCapacity = 64;
};
