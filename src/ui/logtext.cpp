#include "ui/logtext.h"

#include <algorithm>

TLogText::TLogText() {
  Clear();
}

qsizetype TLogText::ParagraphEnd(qsizetype i) const {
  const size_t next = size_t(i) + 1;
  return next < FStarts.size() ? FStarts[next] - 1 : FText.size();
}

qsizetype TLogText::ParagraphAt(qsizetype pos) const {
  const auto it = std::upper_bound(FStarts.begin(), FStarts.end(), pos);
  return qsizetype(it - FStarts.begin()) - 1;
}

QStringView TLogText::ParagraphText(qsizetype i) const {
  const qsizetype start = ParagraphStart(i);
  return QStringView(FText).mid(start, ParagraphEnd(i) - start);
}

size_t TLogText::RunAt(qsizetype pos) const {
  const auto it = std::upper_bound(FRunStarts.begin(), FRunStarts.end(), pos);
  return size_t(it - FRunStarts.begin()) - 1;
}

uint16_t TLogText::FormatAt(qsizetype pos) const {
  if (pos >= FText.size() && pos > 0) pos = FText.size() - 1;
  return FRunFormats[RunAt(std::max<qsizetype>(pos, 0))];
}

QList<TFormatSpan> TLogText::Spans(qsizetype from, qsizetype to) const {
  QList<TFormatSpan> spans;
  for (size_t run = RunAt(from); run < FRunStarts.size() && FRunStarts[run] < to; ++run) {
    const qsizetype start = std::max(FRunStarts[run], from);
    const qsizetype end = run + 1 < FRunStarts.size() ? std::min(FRunStarts[run + 1], to) : to;
    if (end > start) spans.append({start - from, end - start, FRunFormats[run]});
  }
  return spans;
}

void TLogText::AddRun(qsizetype start, uint16_t format) {
  // A run that would hold no text is replaced rather than kept, so starts stay ascending.
  if (FRunStarts.back() == start) {
    FRunFormats.back() = format;
    if (FRunFormats.size() > 1 && FRunFormats[FRunFormats.size() - 2] == format) {
      FRunStarts.pop_back();
      FRunFormats.pop_back();
    }
    return;
  }
  if (FRunFormats.back() == format) return;
  FRunStarts.push_back(start);
  FRunFormats.push_back(format);
}

void TLogText::Append(QStringView text, uint16_t format, bool newParagraph) {
  if (newParagraph) {
    FText += u'\n';
    FStarts.push_back(FText.size());
  }
  if (text.isEmpty()) return;
  AddRun(FText.size(), format);
  const qsizetype start = FText.size();
  FText += text;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n') FStarts.push_back(start + i + 1);
  }
}

void TLogText::Insert(qsizetype pos, QStringView text) {
  pos = std::clamp<qsizetype>(pos, 0, FText.size());
  const qsizetype length = text.size();
  if (length == 0) return;
  FText.insert(pos, text);
  auto para = std::upper_bound(FStarts.begin(), FStarts.end(), pos);
  for (auto it = para; it != FStarts.end(); ++it) *it += length;
  std::vector<qsizetype> added;
  for (qsizetype i = 0; i < length; ++i) {
    if (text[i] == u'\n') added.push_back(pos + i + 1);
  }
  FStarts.insert(para, added.begin(), added.end());
  // Text inserted where a run begins joins the run before it, as typing continues the format
  // of the preceding character; the run at offset 0 never moves.
  auto run = pos == 0 ? FRunStarts.begin() + 1
                      : std::lower_bound(FRunStarts.begin(), FRunStarts.end(), pos);
  for (; run != FRunStarts.end(); ++run) *run += length;
}

void TLogText::RemoveRuns(qsizetype from, qsizetype to) {
  auto first = std::upper_bound(FRunStarts.begin(), FRunStarts.end(), from);
  auto last = std::upper_bound(FRunStarts.begin(), FRunStarts.end(), to);
  if (first != last) {
    // The last run starting inside the cut covers the text after it, which now begins at from;
    // the runs before it lose all their text.
    *(last - 1) = from;
    if (*(first - 1) == from) --first;
    const auto i = first - FRunStarts.begin();
    const auto n = (last - 1) - first;
    FRunStarts.erase(first, first + n);
    FRunFormats.erase(FRunFormats.begin() + i, FRunFormats.begin() + i + n);
    last = FRunStarts.begin() + i + 1;
  }
  for (auto it = last; it != FRunStarts.end(); ++it) *it -= to - from;
}

void TLogText::Remove(qsizetype from, qsizetype to) {
  from = std::clamp<qsizetype>(from, 0, FText.size());
  to = std::clamp<qsizetype>(to, from, FText.size());
  if (from == to) return;
  FText.remove(from, to - from);
  auto first = std::upper_bound(FStarts.begin(), FStarts.end(), from);
  auto last = std::upper_bound(FStarts.begin(), FStarts.end(), to);
  for (auto it = last; it != FStarts.end(); ++it) *it -= to - from;
  FStarts.erase(first, last);
  RemoveRuns(from, to);
  // A run left at the very end holds no text; dropping it lets what is typed or appended there
  // continue the format of the character before, not that of deleted text.
  if (FRunStarts.size() > 1 && FRunStarts.back() >= FText.size()) {
    FRunStarts.pop_back();
    FRunFormats.pop_back();
  }
  // Text typed into a pane emptied by hand is in the pane's own format, as in a fresh pane.
  if (FText.isEmpty()) FRunFormats.assign(1, 0), FRunStarts.assign(1, 0);
}

void TLogText::Clear() {
  FText.clear();
  FText.squeeze();
  FStarts.assign(1, 0);
  FStarts.shrink_to_fit();
  FRunStarts.assign(1, 0);
  FRunStarts.shrink_to_fit();
  FRunFormats.assign(1, 0);
  FRunFormats.shrink_to_fit();
}
