#include "ui/logview.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "ui/qcolors.h"

namespace {

constexpr int kMargin = 2;  // pixels between the frame and the text
constexpr size_t kMaxFormats = 65535;
constexpr int kMinRowHeight = 8;  // pixels; rows of the log's fonts are taller

}  // namespace

qreal TLogView::LayoutHeight(const QTextLayout& layout) {
  if (layout.lineCount() == 0) return 0;
  const QTextLine last = layout.lineAt(layout.lineCount() - 1);
  return last.y() + last.height();
}

QTextLine TLogView::LineOf(const QTextLayout& layout, int pos) {
  const QTextLine line = layout.lineForTextPosition(pos);
  return line.isValid() ? line : layout.lineAt(layout.lineCount() - 1);
}

int TLogView::RowAt(const QTextLayout& layout, qreal offset) {
  int row = 0;
  while (row + 1 < layout.lineCount() && layout.lineAt(row + 1).y() <= offset) ++row;
  return row;
}

TLogView::TLogView(QWidget* parent) : QAbstractScrollArea(parent) {
  FFormats.push_back({});  // format 0: the view's own font and text colour, read when used
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  InstallScrollBar();
  verticalScrollBar()->setSingleStep(1);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TLogView::OnScrollBarMoved);
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &TLogView::OnScrollAction);
  verticalScrollBar()->installEventFilter(this);
}

uint16_t TLogView::FormatIndex(TColor colour, const QFont& font) {
  const QColor qcolour = ToQColor(colour);
  for (size_t i = 1; i < FFormats.size(); ++i) {
    if (FFormats[i].Colour == qcolour && FFormats[i].Font == font) return uint16_t(i);
  }
  // The log uses three colours; should a caller ever pass more than the table holds, the
  // newest format is reused instead of overflowing the 16-bit index.
  if (FFormats.size() >= kMaxFormats) return uint16_t(FFormats.size() - 1);
  QTextCharFormat format;
  format.setFont(font);
  format.setForeground(qcolour);
  FFormats.push_back({qcolour, font, format});
  return uint16_t(FFormats.size() - 1);
}

const QTextCharFormat& TLogView::CharFormat(uint16_t index) const {
  if (index > 0 && index < FFormats.size()) return FFormats[index].Char;
  if (FOwnFormatStale) {
    FOwnFormat = QTextCharFormat();
    FOwnFormat.setFont(font());
    FOwnFormat.setForeground(palette().color(QPalette::Text));
    FOwnFormatStale = false;
  }
  return FOwnFormat;
}

// The view's own font and colours make format 0 and the wrapping of every line.
void TLogView::changeEvent(QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::FontChange || type == QEvent::PaletteChange || type == QEvent::StyleChange) {
    FOwnFormatStale = true;
    FLayouts.Clear();
    FRangeDirty = true;
    viewport()->update();
  }
  QAbstractScrollArea::changeEvent(event);
}

QString ToViewLineBreaks(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
  return text;
}

void TLogView::AppendText(QStringView text, TColor colour, const QFont& font, bool newParagraph) {
  const qsizetype at = FDoc.Length();
  const qsizetype last = FDoc.ParagraphCount() - 1;
  if (!newParagraph) TextChangedFrom(last);
  // A line break inside the text breaks the line on screen, as in any rich-text pane.
  if (text.contains(u'\r'))
    FDoc.Append(ToViewLineBreaks(text.toString()), FormatIndex(colour, font), newParagraph);
  else
    FDoc.Append(text, FormatIndex(colour, font), newParagraph);
  FRangeDirty = true;
  viewport()->update();
  emit TextChanged(at, {}, FDoc.Length() - at);
}

void TLogView::Clear() {
  const QString removed = FDoc.Text();  // shares the buffer, copies nothing
  const qsizetype oldCaret = FCaret, oldAnchor = FAnchor;
  FDoc.Clear();
  TextChangedFrom(0);
  FCaret = FAnchor = 0;
  FTop = 0;
  FTopOffset = 0;
  FRangeDirty = true;
  viewport()->update();
  emit TextChanged(0, removed, 0);
  NotifyCaret(oldCaret, oldAnchor);
}

void TLogView::SetSelection(qsizetype anchor, qsizetype caret) {
  const qsizetype oldCaret = FCaret, oldAnchor = FAnchor;
  FAnchor = std::clamp<qsizetype>(anchor, 0, FDoc.Length());
  FCaret = std::clamp<qsizetype>(caret, 0, FDoc.Length());
  ShowPosition(FCaret);
  viewport()->update();
  NotifyCaret(oldCaret, oldAnchor);
}

// Announces that the caret moved, and whether the selection changed with it.
void TLogView::NotifyCaret(qsizetype oldCaret, qsizetype oldAnchor) {
  const bool selectionChanged = (oldCaret != oldAnchor || FCaret != FAnchor) &&
                                std::minmax(oldCaret, oldAnchor) != std::minmax(FCaret, FAnchor);
  if (oldCaret != FCaret || selectionChanged) emit CaretMoved(selectionChanged);
}

QString TLogView::SelectedText() const {
  const qsizetype from = std::min(FAnchor, FCaret);
  return FDoc.Text().mid(from, std::max(FAnchor, FCaret) - from);
}

void TLogView::MoveCaretToEndAndScroll() {
  const qsizetype oldCaret = FCaret, oldAnchor = FAnchor;
  FCaret = FAnchor = FDoc.Length();
  FScrollToEnd = true;
  viewport()->update();
  NotifyCaret(oldCaret, oldAnchor);
}

QColor TLogView::ColourAt(qsizetype pos) const {
  return CharFormat(FDoc.FormatAt(pos)).foreground().color();
}

QFont TLogView::FontAt(qsizetype pos) const {
  return CharFormat(FDoc.FormatAt(pos)).font();
}

// The width lines wrap at: the viewport less the margins on both sides.
int TLogView::LineWidth() const {
  return std::max(1, viewport()->width() - 2 * kMargin);
}

// Forgets the layouts of a paragraph whose text changed and of all after it.
void TLogView::TextChangedFrom(qsizetype paragraph) {
  FLayouts.DropFrom(paragraph);
}

// Returns the layout of one paragraph with its colours and fonts, the one kept from an earlier
// call while the paragraph and the line width are the same.
TLogLayouts::TLayout TLogView::LayoutParagraph(qsizetype i) const {
  if (LineWidth() != FLayoutWidth) {
    FLayouts.Clear();
    FLayoutWidth = LineWidth();
  }
  // Enough for the paragraphs on screen and the last screenful, each a row high at the least.
  FLayouts.SetCapacity(size_t(2 * (viewport()->height() / kMinRowHeight + 2) + 8));
  if (auto kept = FLayouts.Find(i)) return kept;
  const qsizetype start = FDoc.ParagraphStart(i);
  auto layout = std::make_shared<QTextLayout>(FDoc.ParagraphText(i).toString(), font());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout->setTextOption(option);
  // The layout is kept to be painted again, so its glyphs are kept too (Qt frees them otherwise).
  layout->setCacheEnabled(true);
  QList<QTextLayout::FormatRange> ranges;
  for (const TFormatSpan& span : FDoc.Spans(start, FDoc.ParagraphEnd(i))) {
    ranges.append({int(span.Start), int(span.Length), CharFormat(span.Format)});
  }
  layout->setFormats(ranges);
  layout->beginLayout();
  for (qreal y = 0;;) {
    QTextLine line = layout->createLine();
    if (!line.isValid()) break;
    line.setLineWidth(LineWidth());
    line.setPosition(QPointF(0, y));
    y += line.height();
  }
  layout->endLayout();
  FLayouts.Put(i, layout);
  return layout;
}

QRect TLogView::CaretRect() { return PositionRect(FCaret, false); }

QRect TLogView::CharacterRect(qsizetype pos) {
  if (pos < 0 || pos >= FDoc.Length()) return {};
  return PositionRect(pos, true);
}

// Returns the rectangle of a caret at pos (1 pixel wide) or of the character there, in viewport
// coordinates; an empty one when its paragraph does not start within the viewport's height.
QRect TLogView::PositionRect(qsizetype pos, bool character) {
  ResolveScroll();
  const qsizetype para = FDoc.ParagraphAt(pos);
  if (para < FTop) return {};
  qreal y = -FTopOffset;
  for (qsizetype i = FTop; i < para && y < viewport()->height(); ++i) {
    y += LayoutHeight(*LayoutParagraph(i));
  }
  if (y >= viewport()->height()) return {};
  const auto layout = LayoutParagraph(para);
  const int at = int(pos - FDoc.ParagraphStart(para));
  const QTextLine line = LineOf(*layout, at);
  const qreal x = line.cursorToX(at);
  const qreal width = character ? line.cursorToX(at, QTextLine::Trailing) - x : 1;
  return QRectF(kMargin + x, y + line.y(), width, line.height()).toAlignedRect();
}

qsizetype TLogView::PositionAt(const QPoint& point) const {
  return viewport()->rect().contains(point) ? HitTest(point) : -1;
}

void TLogView::paintEvent(QPaintEvent*) {
  ResolveScroll();
  QPainter painter(viewport());
  const qsizetype selFrom = std::min(FAnchor, FCaret);
  const qsizetype selTo = std::max(FAnchor, FCaret);
  QTextCharFormat highlight;
  highlight.setBackground(palette().color(QPalette::Highlight));
  highlight.setForeground(palette().color(QPalette::HighlightedText));
  qreal y = -FTopOffset;
  for (qsizetype i = FTop; i < FDoc.ParagraphCount() && y < viewport()->height(); ++i) {
    const auto layout = LayoutParagraph(i);
    const qsizetype start = FDoc.ParagraphStart(i);
    const qsizetype end = FDoc.ParagraphEnd(i);
    QList<QTextLayout::FormatRange> selection;
    if (selFrom < selTo && selFrom <= end && selTo > start) {
      const qsizetype from = std::max(selFrom, start);
      selection.append({int(from - start), int(std::min(selTo, end) - from), highlight});
    }
    const QPointF origin(kMargin, y);
    layout->draw(&painter, origin, selection);
    if (hasFocus() && FCaret >= start && FCaret <= end) {
      layout->drawCursor(&painter, origin, int(FCaret - start));
    }
    y += LayoutHeight(*layout);
  }
}

void TLogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  // A view showing the end keeps showing it when its size (and so its wrapping) changes.
  if (!BeforeEnd(FTop, FTopOffset)) FScrollToEnd = true;
  FRangeDirty = true;
}

// Returns the text position under a viewport point; below the last line it is the end.
qsizetype TLogView::HitTest(const QPoint& point) const {
  qreal y = -FTopOffset;
  for (qsizetype i = FTop; i < FDoc.ParagraphCount(); ++i) {
    const auto layout = LayoutParagraph(i);
    const qreal height = LayoutHeight(*layout);
    if (point.y() < y + height) {
      QTextLine line = layout->lineAt(0);
      for (int n = 1; n < layout->lineCount() && layout->lineAt(n).y() + y <= point.y(); ++n) {
        line = layout->lineAt(n);
      }
      return FDoc.ParagraphStart(i) + line.xToCursor(point.x() - kMargin);
    }
    y += height;
  }
  return FDoc.Length();
}

// Returns the position one wrapped line above or below pos, at about the same x.
qsizetype TLogView::VerticalNeighbour(qsizetype pos, int direction) const {
  const qsizetype para = FDoc.ParagraphAt(pos);
  const qsizetype start = FDoc.ParagraphStart(para);
  const auto layout = LayoutParagraph(para);
  const QTextLine line = LineOf(*layout, int(pos - start));
  const qreal x = line.cursorToX(int(pos - start));
  const int n = line.lineNumber() + direction;
  if (n >= 0 && n < layout->lineCount()) return start + layout->lineAt(n).xToCursor(x);
  const qsizetype next = para + direction;
  if (next < 0) return 0;
  if (next >= FDoc.ParagraphCount()) return FDoc.Length();
  const auto other = LayoutParagraph(next);
  const QTextLine target = other->lineAt(direction < 0 ? other->lineCount() - 1 : 0);
  return FDoc.ParagraphStart(next) + target.xToCursor(x);
}

void TLogView::MoveCaret(qsizetype pos, bool keepAnchor) {
  SetSelection(keepAnchor ? FAnchor : pos, pos);
}

void TLogView::Changed() {
  FRangeDirty = true;
  ShowPosition(FCaret);
  viewport()->update();
}

void TLogView::ReplaceSelection(QStringView text) {
  const qsizetype oldCaret = FCaret, oldAnchor = FAnchor;
  const qsizetype from = std::min(FAnchor, FCaret), to = std::max(FAnchor, FCaret);
  const QString removed = FDoc.Text().mid(from, to - from);
  TextChangedFrom(FDoc.ParagraphAt(from));
  FDoc.Remove(from, to);
  FDoc.Insert(from, text);
  FCaret = FAnchor = from + text.size();
  Changed();
  emit TextChanged(from, removed, text.size());
  NotifyCaret(oldCaret, oldAnchor);
}

#include "moc_logview.cpp"
