#include "ui/loglayouts.h"

#include <algorithm>

TLogLayouts::TLayout TLogLayouts::Find(qsizetype paragraph) {
  const auto it = FKept.find(paragraph);
  if (it == FKept.end()) return {};
  it->second.Used = ++FClock;
  return it->second.Layout;
}

void TLogLayouts::Put(qsizetype paragraph, TLayout layout) {
  FKept[paragraph] = {std::move(layout), ++FClock};
  while (FKept.size() > FCapacity) {
    const auto oldest = std::min_element(FKept.begin(), FKept.end(), [](const auto& a, const auto& b) {
      return a.second.Used < b.second.Used;
    });
    FKept.erase(oldest);
  }
}

void TLogLayouts::DropFrom(qsizetype from) {
  std::erase_if(FKept, [from](const auto& kept) { return kept.first >= from; });
}
