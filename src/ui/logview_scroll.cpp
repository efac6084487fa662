// Scrolling of the log view. The view stands at a paragraph (FTop) with some of its pixels
// hidden above the viewport (FTopOffset). The wheel, the scroll bar's arrows and the page keys
// move it by wrapped rows, laying out only the paragraphs they pass.
//
// The scroll bar cannot count rows: that would need every paragraph laid out at the present
// width, far too slow for a log of a million entries. Its values ("slots") come from the text
// alone instead: each paragraph has one slot plus one for every kCharsPerSlot characters (see
// SlotBase), and the slots of a paragraph are spread evenly over its rows. A paragraph's rows
// hold far more characters than that, so each row of a long paragraph is met by the slider.

#include <QApplication>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <algorithm>
#include <climits>

#include "ui/logview.h"

namespace {

constexpr qsizetype kCharsPerSlot = 16;
constexpr int kWheelNotch = 120;  // eighths of a degree in one notch of a common wheel

}  // namespace

// The view's scroll bar. Every entry moves its maximum and its value by a few slots, which in a
// long log leaves the picture as it was (the slider stays at the bottom, a few pixels long), so
// it is repainted only when what it shows changes: where the slider stands, and whether it is at
// either end.
class TLogScrollBar : public QScrollBar {
 public:
  TLogScrollBar() : QScrollBar(Qt::Vertical) {}

  // Makes several changes as one: the states between them are never painted.
  template <class F>
  void Change(const F& change) {
    FChanging = true;
    change();
    FChanging = false;
    if (Picture() != FPainted) update();
  }

 protected:
  void sliderChange(SliderChange change) override {
    if (change == SliderOrientationChange) return QScrollBar::sliderChange(change);
    if (!FChanging && Picture() != FPainted) QScrollBar::sliderChange(change);
  }

  void paintEvent(QPaintEvent* event) override {
    FPainted = Picture();
    QScrollBar::paintEvent(event);
  }

 private:
  struct TPicture {
    QRect Slider;
    bool AtMinimum = false, AtMaximum = false;
    bool operator==(const TPicture&) const = default;
  };

  TPicture Picture() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect slider =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    return {slider, value() == minimum(), value() == maximum()};
  }

  bool FChanging = false;
  TPicture FPainted;
};

// Puts in the scroll bar that repaints only when its picture changes.
void TLogView::InstallScrollBar() {
  FScrollBar = new TLogScrollBar;
  setVerticalScrollBar(FScrollBar);
}

// Returns the first slot of a paragraph; the slot just past the last paragraph for the count.
// Monotonic in the paragraph, and computed from the paragraph's start offset alone.
qint64 TLogView::SlotBase(qsizetype paragraph) const {
  const qsizetype start = paragraph < FDoc.ParagraphCount() ? FDoc.ParagraphStart(paragraph)
                                                             : FDoc.Length() + 1;
  return qint64(paragraph) + start / kCharsPerSlot;
}

// Returns the paragraph that holds a slot: the last one whose first slot is not above it.
qsizetype TLogView::ParagraphOfSlot(qint64 slot) const {
  qsizetype lo = 0, hi = FDoc.ParagraphCount() - 1;
  while (lo < hi) {
    const qsizetype mid = lo + (hi - lo + 1) / 2;
    if (SlotBase(mid) <= slot) lo = mid;
    else hi = mid - 1;
  }
  return lo;
}

// Returns the slot that stands for a view whose top row is the one at offset in paragraph:
// the first of the slots that map to that row.
qint64 TLogView::SlotOf(qsizetype paragraph, qreal offset) const {
  const qint64 base = SlotBase(paragraph);
  if (offset <= 0) return base;
  const qint64 count = SlotBase(paragraph + 1) - base;
  const auto layout = LayoutParagraph(paragraph);
  const qint64 rows = std::max(1, layout->lineCount());
  const qint64 row = RowAt(*layout, offset);
  return base + std::min(count - 1, (row * count + rows - 1) / rows);
}

// Returns whether a place lies before the place the view has when scrolled to the end.
bool TLogView::BeforeEnd(qsizetype paragraph, qreal offset) const {
  return paragraph < FEndTop || (paragraph == FEndTop && offset < FEndOffset);
}

void TLogView::ClampToEnd() {
  if (BeforeEnd(FTop, FTopOffset)) return;
  FTop = FEndTop;
  FTopOffset = FEndOffset;
}

void TLogView::AlignBottom(qsizetype paragraph, qreal bottom) {
  // Walks back from the given point until the paragraphs above it fill the viewport.
  qreal remaining = viewport()->height();
  for (qsizetype i = paragraph;; --i) {
    const qreal height = i == paragraph ? bottom : LayoutHeight(*LayoutParagraph(i));
    if (height >= remaining || i == 0) {
      FTop = i;
      FTopOffset = std::max<qreal>(0, height - remaining);
      return;
    }
    remaining -= height;
  }
}

// Works out where the view stands when scrolled to the end; the scroll bar runs from the top to
// that place, so its range needs only the last screenful to be laid out.
void TLogView::UpdateScrollBar() {
  const qsizetype top = FTop;
  const qreal offset = FTopOffset;
  const qsizetype last = FDoc.ParagraphCount() - 1;
  AlignBottom(last, LayoutHeight(*LayoutParagraph(last)));
  FEndTop = FTop;
  FEndOffset = FTopOffset;
  FRangeDirty = false;
  if (BeforeEnd(top, offset)) {
    FTop = top;
    FTopOffset = offset;
  }
  FEndSlot = SlotOf(FEndTop, FEndOffset);
  FSettingScroll = true;
  FScrollBar->setRange(0, int(std::min<qint64>(FEndSlot, INT_MAX)));
  FScrollBar->setPageStep(int(std::clamp<qint64>(SlotBase(last + 1) - FEndSlot, 1, INT_MAX)));
  FSettingScroll = false;
  ShowTopOnScrollBar();
}

void TLogView::ShowTopOnScrollBar() {
  FShownSlot = BeforeEnd(FTop, FTopOffset) ? SlotOf(FTop, FTopOffset) : FEndSlot;
  FSettingScroll = true;
  verticalScrollBar()->setValue(int(std::min<qint64>(FShownSlot, INT_MAX)));
  FSettingScroll = false;
}

// Carries out the deferred range update and scroll to the end. Appends only mark them, so a
// burst of entries between two paints costs one walk over the last screenful; the scroll bar
// takes the new range and value as one change.
void TLogView::ResolveScroll() {
  if (!FRangeDirty && !FScrollToEnd) return;
  FScrollBar->Change([this] {
    if (FRangeDirty) UpdateScrollBar();
    if (!FScrollToEnd) return;
    FScrollToEnd = false;
    FTop = FEndTop;
    FTopOffset = FEndOffset;
    ShowTopOnScrollBar();
  });
}

// Follows the slider: a slot stands for a paragraph and one of its rows; the maximum is the end.
// The move is the newest word on where the view stands, so a scroll to the end that an entry or a
// resize left for the next paint is dropped; slots depend on the text alone, so a range not yet
// brought up to date still names the right place.
void TLogView::OnScrollBarMoved(int value) {
  if (FSettingScroll || value == FShownSlot) return;
  FShownSlot = value;
  FScrollToEnd = false;
  if (value >= verticalScrollBar()->maximum()) {
    FTop = FEndTop;
    FTopOffset = FEndOffset;
  } else {
    FTop = ParagraphOfSlot(value);
    const qint64 base = SlotBase(FTop), count = SlotBase(FTop + 1) - base;
    const auto layout = LayoutParagraph(FTop);
    const int row = int((value - base) * layout->lineCount() / count);
    FTopOffset = layout->lineAt(row).y();
    ClampToEnd();
  }
  viewport()->update();
}

// The arrows and the page areas of the scroll bar (and the page keys) move by rows; the slider
// is then put where the new place stands.
void TLogView::OnScrollAction(int action) {
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: ScrollRows(1); break;
    case QAbstractSlider::SliderSingleStepSub: ScrollRows(-1); break;
    case QAbstractSlider::SliderPageStepAdd: ScrollPage(1); break;
    case QAbstractSlider::SliderPageStepSub: ScrollPage(-1); break;
    default: return;
  }
  verticalScrollBar()->setSliderPosition(int(std::min<qint64>(FShownSlot, INT_MAX)));
}

// Moves the view by whole rows, down for a positive count; a row partly hidden at the top
// counts as one. Stops at the top and at the end.
void TLogView::ScrollRows(int rows) {
  ResolveScroll();
  auto layout = LayoutParagraph(FTop);
  for (int i = 0; i < std::abs(rows); ++i) {
    const int row = RowAt(*layout, FTopOffset);
    if (rows > 0 && row + 1 < layout->lineCount()) {
      FTopOffset = layout->lineAt(row + 1).y();
    } else if (rows > 0) {
      if (FTop + 1 >= FDoc.ParagraphCount()) break;
      layout = LayoutParagraph(++FTop);
      FTopOffset = 0;
    } else if (FTopOffset > layout->lineAt(row).y()) {
      FTopOffset = layout->lineAt(row).y();
    } else if (row > 0) {
      FTopOffset = layout->lineAt(row - 1).y();
    } else {
      if (FTop == 0) break;
      layout = LayoutParagraph(--FTop);
      FTopOffset = layout->lineAt(layout->lineCount() - 1).y();
    }
    if (!BeforeEnd(FTop, FTopOffset)) break;
  }
  ClampToEnd();
  ShowTopOnScrollBar();
  viewport()->update();
}

// Moves the view by a viewport's height less one row, so that a row seen at one edge is still
// seen after the move.
void TLogView::ScrollPage(int direction) {
  ResolveScroll();
  const int rowHeight = fontMetrics().height();
  const int rows = std::max(1, (viewport()->height() - rowHeight) / std::max(1, rowHeight));
  ScrollRows(direction * rows);
}

// Brings the row of pos on screen (the caret's, after user edits and moves).
void TLogView::ShowPosition(qsizetype pos) {
  ResolveScroll();
  pos = std::clamp<qsizetype>(pos, 0, FDoc.Length());
  const qsizetype para = FDoc.ParagraphAt(pos);
  const auto layout = LayoutParagraph(para);
  const QTextLine line = LineOf(*layout, int(pos - FDoc.ParagraphStart(para)));
  if (para < FTop || (para == FTop && line.y() < FTopOffset)) {
    FTop = para;
    FTopOffset = line.y();
  } else {
    const QRect caret = PositionRect(pos, false);
    if (caret.isValid() && caret.bottom() < viewport()->height()) return;
    AlignBottom(para, line.y() + line.height());
  }
  ShowTopOnScrollBar();
  viewport()->update();
}

qsizetype TLogView::TopPosition() {
  ResolveScroll();
  const auto layout = LayoutParagraph(FTop);
  return FDoc.ParagraphStart(FTop) + layout->lineAt(RowAt(*layout, FTopOffset)).textStart();
}

// The wheel turns rows as the desktop sets (three a notch by default); the parts of a notch that
// fine-grained wheels and touchpads send add up until they make a row.
void TLogView::wheelEvent(QWheelEvent* event) {
  FWheelDelta += event->angleDelta().y();
  const int lines = std::max(1, QApplication::wheelScrollLines());
  const int rows = FWheelDelta * lines / kWheelNotch;
  FWheelDelta -= rows * kWheelNotch / lines;
  if (rows != 0) ScrollRows(-rows);
  event->accept();
}

// The wheel over the scroll bar scrolls as over the text, by rows.
bool TLogView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == verticalScrollBar() && event->type() == QEvent::Wheel) {
    wheelEvent(static_cast<QWheelEvent*>(event));
    return true;
  }
  return QAbstractScrollArea::eventFilter(watched, event);
}
