#include "ui/logaccessible.h"

#include <QAccessibleWidget>
#include <QFontInfo>
#include <algorithm>

#include "ui/logview.h"

namespace {

// A piece of the log's text for Qt's own boundary functions (characters, words, sentences,
// lines): they read the whole text they are given, so they are given only the paragraphs
// around the offset asked for. Nothing but the text is ever asked of a window.
class TTextWindow : public QAccessibleTextInterface {
 public:
  explicit TTextWindow(QString text) : FText(std::move(text)) {}

  QString text(int start, int end) const override { return FText.mid(start, end - start); }
  int characterCount() const override { return int(FText.size()); }
  void selection(int, int* start, int* end) const override { *start = *end = 0; }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QRect characterRect(int) const override { return {}; }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int, int* start, int* end) const override {
    *start = *end = -1;
    return {};
  }

 private:
  QString FText;
};

// The log pane as assistive technology sees it: an editable, multi-line text whose offsets
// are those of the pane's plain text.
class TLogViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit TLogViewAccessible(TLogView* view) : QAccessibleWidget(view, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.editable = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
  }

  // Selection and caret.
  void selection(int index, int* start, int* end) const override {
    *start = *end = 0;
    if (index != 0 || selectionCount() == 0) return;
    *start = int(std::min(View()->AnchorPosition(), View()->CaretPosition()));
    *end = int(std::max(View()->AnchorPosition(), View()->CaretPosition()));
  }
  int selectionCount() const override {
    return View()->AnchorPosition() != View()->CaretPosition() ? 1 : 0;
  }
  void addSelection(int start, int end) override { View()->SetSelection(start, end); }
  void removeSelection(int index) override {
    if (index == 0) View()->SetSelection(View()->CaretPosition(), View()->CaretPosition());
  }
  void setSelection(int index, int start, int end) override {
    if (index == 0) View()->SetSelection(start, end);
  }
  int cursorPosition() const override { return int(View()->CaretPosition()); }
  void setCursorPosition(int position) override { View()->SetSelection(position, position); }

  // Text.
  int characterCount() const override { return int(View()->Document().Length()); }
  QString text(int start, int end) const override {
    const qsizetype length = View()->Document().Length();
    const qsizetype from = std::clamp<qsizetype>(start, 0, length);
    return View()->Document().Text().mid(from, std::clamp<qsizetype>(end, from, length) - from);
  }
  QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                           int* end) const override {
    if (type == QAccessible::NoBoundary)
      return QAccessibleTextInterface::textBeforeOffset(offset, type, start, end);
    return InWindow(offset, start, end, [type](const TTextWindow& w, int at, int* s, int* e) {
      return w.textBeforeOffset(at, type, s, e);
    });
  }
  QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                          int* end) const override {
    if (type == QAccessible::NoBoundary)
      return QAccessibleTextInterface::textAfterOffset(offset, type, start, end);
    return InWindow(offset, start, end, [type](const TTextWindow& w, int at, int* s, int* e) {
      return w.textAfterOffset(at, type, s, e);
    });
  }
  QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                       int* end) const override {
    if (type == QAccessible::NoBoundary)
      return QAccessibleTextInterface::textAtOffset(offset, type, start, end);
    return InWindow(offset, start, end, [type](const TTextWindow& w, int at, int* s, int* e) {
      return w.textAtOffset(at, type, s, e);
    });
  }
  QString attributes(int offset, int* start, int* end) const override;

  // Geometry, in screen coordinates.
  QRect characterRect(int offset) const override {
    const QRect r = View()->CharacterRect(offset);
    if (r.isEmpty()) return {};
    return QRect(View()->viewport()->mapToGlobal(r.topLeft()), r.size());
  }
  int offsetAtPoint(const QPoint& point) const override {
    return int(View()->PositionAt(View()->viewport()->mapFromGlobal(point)));
  }
  void scrollToSubstring(int start, int end) override {
    View()->ShowPosition(end);
    View()->ShowPosition(start);
  }

 private:
  TLogView* View() const { return static_cast<TLogView*>(object()); }

  template <class Query>
  QString InWindow(int offset, int* start, int* end, const Query& query) const;
  QString AttributesOf(uint16_t format) const;

  mutable QList<QString> FAttributes;  // attribute texts by format, empty until asked for
};

// Answers a boundary query on the paragraph that holds offset and its two neighbours, enough
// for the item at, before and after it; offsets are moved back into the whole text.
template <class Query>
QString TLogViewAccessible::InWindow(int offset, int* start, int* end, const Query& query) const {
  const TLogText& doc = View()->Document();
  const qsizetype at = offset == -1 ? doc.Length() : offset;
  *start = *end = -1;
  if (at < 0 || at > doc.Length()) return {};
  const qsizetype para = doc.ParagraphAt(at);
  const qsizetype first = std::max<qsizetype>(para - 1, 0);
  const qsizetype next = std::min(para + 2, doc.ParagraphCount());
  const qsizetype from = doc.ParagraphStart(first);
  const qsizetype to = next < doc.ParagraphCount() ? doc.ParagraphStart(next) : doc.Length();
  const TTextWindow window(doc.Text().mid(from, to - from));
  const QString text = query(window, int(at - from), start, end);
  if (*start >= 0) *start += int(from), *end += int(from);
  return text;
}

// The run of one format that holds offset, within its paragraph (separator included), as Qt's
// text edits give it: runs end where a paragraph ends.
QString TLogViewAccessible::attributes(int offset, int* start, int* end) const {
  const TLogText& doc = View()->Document();
  const int count = characterCount();
  if (offset == -2) offset = cursorPosition();
  if (offset == -1 || offset == count) offset = count - 1;
  *start = *end = -1;
  if (offset < 0 || offset > count) return {};
  const qsizetype para = doc.ParagraphAt(offset);
  const qsizetype from = doc.ParagraphStart(para);
  const qsizetype to = std::min(doc.ParagraphEnd(para) + 1, doc.Length());
  for (const TFormatSpan& span : doc.Spans(from, to)) {
    if (offset >= from + span.Start + span.Length) continue;
    *start = int(from + span.Start);
    *end = int(from + span.Start + span.Length);
    return AttributesOf(span.Format);
  }
  return {};
}

// The view's formats other than its own (0) never change once made, so their attribute texts
// are written once; format 0 follows the view's font and colours.
QString TLogViewAccessible::AttributesOf(uint16_t format) const {
  if (format == 0) return LogTextAttributes(View()->CharFormat(0));
  if (format >= FAttributes.size()) FAttributes.resize(format + 1);
  QString& text = FAttributes[format];
  if (text.isEmpty()) text = LogTextAttributes(View()->CharFormat(format));
  return text;
}

QAccessibleInterface* LogViewFactory(const QString& className, QObject* object) {
  if (className != QLatin1String("TLogView") || !object || !object->isWidgetType()) return nullptr;
  return new TLogViewAccessible(static_cast<TLogView*>(object));
}

// Escapes the characters that separate attributes and their values.
QString EscapedFamily(QString family) {
  for (const char16_t c : {u'\\', u':', u',', u'=', u';', u'"'})
    family.replace(QChar(c), QStringLiteral("\\") + QChar(c));
  return family;
}

QString FontStyleName(QFont::Style style) {
  switch (style) {
    case QFont::StyleItalic: return QStringLiteral("italic");
    case QFont::StyleOblique: return QStringLiteral("oblique");
    default: return QStringLiteral("normal");
  }
}

std::function<void(QAccessibleEvent*)>& Listener() {
  static std::function<void(QAccessibleEvent*)> listener;
  return listener;
}

// Returns whether an event would reach anyone: building one costs a copy of the text it names.
bool AnyoneListens() { return QAccessible::isActive() || Listener(); }

void Send(QAccessibleEvent* event) {
  if (Listener()) Listener()(event);
  QAccessible::updateAccessibility(event);
}

// Tells assistive technology, when any is listening, that the text from pos changed: removed
// was taken out and then inserted characters put in (either may be none).
void NotifyTextChanged(TLogView* view, qsizetype pos, const QString& removed, qsizetype count) {
  if (!AnyoneListens() || (removed.isEmpty() && count == 0)) return;
  const QString inserted = view->Text().mid(pos, count);
  if (removed.isEmpty()) {
    QAccessibleTextInsertEvent event(view, int(pos), inserted);
    Send(&event);
  } else if (inserted.isEmpty()) {
    QAccessibleTextRemoveEvent event(view, int(pos), removed);
    Send(&event);
  } else {
    QAccessibleTextUpdateEvent event(view, int(pos), removed, inserted);
    Send(&event);
  }
}

// Tells assistive technology, when any is listening, that the caret moved, and the selection
// with it when selectionChanged is set.
void NotifyCaretMoved(TLogView* view, bool selectionChanged) {
  if (!AnyoneListens()) return;
  QAccessibleTextCursorEvent caret(view, int(view->CaretPosition()));
  Send(&caret);
  if (!selectionChanged) return;
  const qsizetype from = std::min(view->AnchorPosition(), view->CaretPosition());
  const qsizetype to = std::max(view->AnchorPosition(), view->CaretPosition());
  QAccessibleTextSelectionEvent selection(view, int(from), int(to));
  Send(&selection);
}

}  // namespace

void MakeLogViewAccessible(TLogView* view) {
  static const bool installed = [] {
    QAccessible::installFactory(LogViewFactory);
    return true;
  }();
  Q_UNUSED(installed);
  QObject::connect(view, &TLogView::TextChanged, view,
                   [view](qsizetype pos, const QString& removed, qsizetype inserted) {
                     NotifyTextChanged(view, pos, removed, inserted);
                   });
  QObject::connect(view, &TLogView::CaretMoved, view,
                   [view](bool selectionChanged) { NotifyCaretMoved(view, selectionChanged); });
}

void SetLogAccessibilityListener(std::function<void(QAccessibleEvent*)> listener) {
  Listener() = std::move(listener);
}

QString LogTextAttributes(const QTextCharFormat& format) {
  QString attrs;
  const auto add = [&attrs](const char* key, const QString& value) {
    attrs += QLatin1String(key) + u':' + value + u';';
  };
  const QFont font = format.font();
  const QString family = font.families().value(0);
  if (!family.isEmpty()) add("font-family", u'"' + EscapedFamily(family) + u'"');
  // A font given in pixels (the pane's own, for typed text) has no point size of its own.
  const int size = font.pointSize() > 0 ? font.pointSize() : qRound(QFontInfo(font).pointSizeF());
  if (size > 0) add("font-size", QString::number(size) + QStringLiteral("pt"));
  add("font-weight", font.weight() > QFont::Normal ? QStringLiteral("bold") : QStringLiteral("normal"));
  add("font-style", FontStyleName(font.style()));
  if (font.underline() || format.underlineStyle() != QTextCharFormat::NoUnderline) {
    add("text-underline-style", QStringLiteral("solid"));
    add("text-underline-type", QStringLiteral("single"));
  }
  add("text-position", QStringLiteral("baseline"));
  const QBrush foreground = format.foreground();
  if (foreground.style() == Qt::SolidPattern) {
    const QColor c = foreground.color();
    add("color", QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue()));
  }
  add("text-align", QStringLiteral("left"));  // every line of the pane starts at its left edge
  return attrs;
}
