// Keyboard, mouse and clipboard handling of the log view: the user may place the caret,
// select, type, delete, break lines, copy, cut and paste, as in any editable text pane.

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QScrollBar>

#include "ui/logview.h"

namespace {

enum class TMove { NextChar, PreviousChar, LineStart, LineEnd, TextStart, TextEnd, Up, Down };

// The caret movements with their plain and their selecting key sequences.
struct TMoveKey {
  QKeySequence::StandardKey Move;
  QKeySequence::StandardKey Select;
  TMove Kind;
};

constexpr TMoveKey kMoveKeys[] = {
    {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, TMove::NextChar},
    {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, TMove::PreviousChar},
    {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, TMove::LineStart},
    {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, TMove::LineEnd},
    {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, TMove::TextStart},
    {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, TMove::TextEnd},
    {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, TMove::Up},
    {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, TMove::Down},
};

bool IsTypedText(const QString& text) {
  return !text.isEmpty() && text[0] >= u' ' && text[0] != QChar(0x7F);
}

}  // namespace

bool TLogView::HandleMoveKey(QKeyEvent* event) {
  for (const TMoveKey& key : kMoveKeys) {
    const bool select = event->matches(key.Select);
    if (!select && !event->matches(key.Move)) continue;
    const qsizetype para = FDoc.ParagraphAt(FCaret);
    qsizetype target = FCaret;
    switch (key.Kind) {
      case TMove::NextChar: target = FCaret + 1; break;
      case TMove::PreviousChar: target = FCaret - 1; break;
      case TMove::LineStart: target = FDoc.ParagraphStart(para); break;
      case TMove::LineEnd: target = FDoc.ParagraphEnd(para); break;
      case TMove::TextStart: target = 0; break;
      case TMove::TextEnd: target = FDoc.Length(); break;
      case TMove::Up: target = VerticalNeighbour(FCaret, -1); break;
      case TMove::Down: target = VerticalNeighbour(FCaret, 1); break;
    }
    MoveCaret(target, select);
    return true;
  }
  return false;
}

bool TLogView::HandleEditKey(QKeyEvent* event) {
  const bool hasSelection = FAnchor != FCaret;
  if (event->key() == Qt::Key_Backspace || event->matches(QKeySequence::Delete)) {
    if (!hasSelection) {
      const bool back = event->key() == Qt::Key_Backspace;
      FAnchor = std::clamp<qsizetype>(FCaret + (back ? -1 : 1), 0, FDoc.Length());
    }
    ReplaceSelection({});
    return true;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    ReplaceSelection(u"\n");
    return true;
  }
  if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
  if (!IsTypedText(event->text())) return false;
  ReplaceSelection(event->text());
  return true;
}

void TLogView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Cut)) {
    if (FAnchor != FCaret) QApplication::clipboard()->setText(SelectedText());
    if (event->matches(QKeySequence::Cut)) ReplaceSelection({});
    return;
  }
  if (event->matches(QKeySequence::Paste))
    return ReplaceSelection(ToViewLineBreaks(QApplication::clipboard()->text()));
  if (event->matches(QKeySequence::SelectAll)) return SetSelection(0, FDoc.Length());
  if (event->matches(QKeySequence::MoveToPreviousPage)) {
    return verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
  }
  if (event->matches(QKeySequence::MoveToNextPage)) {
    return verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  }
  if (HandleMoveKey(event) || HandleEditKey(event)) return;
  QAbstractScrollArea::keyPressEvent(event);
}

void TLogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  MoveCaret(HitTest(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void TLogView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return QAbstractScrollArea::mouseMoveEvent(event);
  MoveCaret(HitTest(event->position().toPoint()), true);
}

void TLogView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TLogView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}
