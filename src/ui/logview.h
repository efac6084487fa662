#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QTextLayout>
#include <memory>
#include <vector>

#include "globals/colors.h"
#include "ui/loglayouts.h"
#include "ui/logtext.h"

class TLogScrollBar;

// Turns CR LF and a lone CR into the view's single '\n' between paragraphs, so that
// positions in the view match the plain text.
QString ToViewLineBreaks(QString text);

// An editable, word-wrapping rich-text view for a log that may grow to millions of lines.
// The text is held compactly (TLogText); only the paragraphs on screen and the last screenful
// are laid out, and their layouts are kept for the next paint (TLogLayouts), so an append with
// its repaint costs the same for a short and a very long log. The wheel, the scroll bar's arrows
// and the page keys move the view by wrapped rows, so every row of a long paragraph can be
// reached; the scroll bar's slider runs over positions that need no layout of the paragraphs
// out of view (see SlotBase). The user can place the caret, select with mouse or keys, type,
// delete, break lines, copy, cut and paste. It announces every change of its text and caret by
// signal, which is how assistive technology hears of them (logaccessible.h).
class TLogView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Creates an empty view.
  explicit TLogView(QWidget* parent = nullptr);

  // Appends text in the given colour and font, as a new paragraph when newParagraph is set.
  void AppendText(QStringView text, TColor colour, const QFont& font, bool newParagraph);
  // Removes all text.
  void Clear();
  // Returns the whole text, paragraphs separated by '\n'.
  const QString& Text() const { return FDoc.Text(); }
  // Returns true when the view holds no character.
  bool IsEmpty() const { return FDoc.Length() == 0; }
  // Returns the number of paragraphs.
  qsizetype ParagraphCount() const { return FDoc.ParagraphCount(); }

  // Returns the caret position (character offset).
  qsizetype CaretPosition() const { return FCaret; }
  // Selects [anchor, caret) or (caret, anchor]; the caret ends at caret.
  void SetSelection(qsizetype anchor, qsizetype caret);
  // Returns the selected text.
  QString SelectedText() const;
  // Puts the caret at the end of the text and scrolls so that the last line is visible.
  void MoveCaretToEndAndScroll();

  // Returns the colour of the character at pos (the window-text colour for typed text).
  QColor ColourAt(qsizetype pos) const;
  // Returns the font of the character at pos.
  QFont FontAt(qsizetype pos) const;
  // Returns the caret's rectangle in viewport coordinates (after any pending scroll).
  QRect CaretRect();
  // Returns the position of the first character of the row at the top of the viewport (after
  // any pending scroll).
  qsizetype TopPosition();
  // Returns the rectangle of the character at pos in viewport coordinates, or an empty one when
  // it is not on screen.
  QRect CharacterRect(qsizetype pos);
  // Returns the text position under a viewport point, or -1 outside the viewport.
  qsizetype PositionAt(const QPoint& point) const;
  // Scrolls as little as needed to show the row that holds pos.
  void ShowPosition(qsizetype pos);

  // Returns the selection's other end (equal to the caret when nothing is selected).
  qsizetype AnchorPosition() const { return FAnchor; }
  // Returns the text with its paragraphs and format runs.
  const TLogText& Document() const { return FDoc; }
  // Returns the character format of a format index of the document.
  const QTextCharFormat& CharFormat(uint16_t index) const;

 signals:
  // The text changed at position: the text removed was taken out and then inserted characters
  // were put in there (either may be none); the inserted ones are in Text() by now.
  void TextChanged(qsizetype position, const QString& removed, qsizetype inserted);
  // The caret moved, and the selection with it when selectionChanged is set.
  void CaretMoved(bool selectionChanged);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // A character format of the view: index 0 is the view's own font and text colour.
  struct TFormat {
    QColor Colour;
    QFont Font;
    QTextCharFormat Char;  // the two as the layouts take them
  };

  // Returns the height of a laid-out paragraph.
  static qreal LayoutHeight(const QTextLayout& layout);
  // Returns the line of a laid-out paragraph that holds pos (the last one past its end).
  static QTextLine LineOf(const QTextLayout& layout, int pos);
  // Returns the row of a laid-out paragraph at offset pixels below its top (the last row below
  // its bottom).
  static int RowAt(const QTextLayout& layout, qreal offset);

  uint16_t FormatIndex(TColor colour, const QFont& font);
  TLogLayouts::TLayout LayoutParagraph(qsizetype i) const;
  void TextChangedFrom(qsizetype paragraph);
  int LineWidth() const;
  void ResolveScroll();
  void UpdateScrollBar();
  void AlignBottom(qsizetype paragraph, qreal bottom);
  QRect PositionRect(qsizetype pos, bool character);
  void InstallScrollBar();
  void OnScrollBarMoved(int value);
  void OnScrollAction(int action);
  qint64 SlotBase(qsizetype paragraph) const;
  qsizetype ParagraphOfSlot(qint64 slot) const;
  qint64 SlotOf(qsizetype paragraph, qreal offset) const;
  bool BeforeEnd(qsizetype paragraph, qreal offset) const;
  void ScrollRows(int rows);
  void ScrollPage(int direction);
  void ClampToEnd();
  qsizetype HitTest(const QPoint& point) const;
  bool HandleEditKey(QKeyEvent* event);
  bool HandleMoveKey(QKeyEvent* event);
  qsizetype VerticalNeighbour(qsizetype pos, int direction) const;
  void MoveCaret(qsizetype pos, bool keepAnchor);
  void ReplaceSelection(QStringView text);
  void NotifyCaret(qsizetype oldCaret, qsizetype oldAnchor);
  void Changed();
  // Shows FTop on the scroll bar without taking it for a move of the user's.
  void ShowTopOnScrollBar();

  TLogText FDoc;
  TLogScrollBar* FScrollBar = nullptr;
  std::vector<TFormat> FFormats;
  mutable QTextCharFormat FOwnFormat;  // format 0, made from font() and palette() when needed
  mutable bool FOwnFormatStale = true;
  mutable TLogLayouts FLayouts;
  mutable int FLayoutWidth = 0;        // the line width the kept layouts were made for
  qsizetype FCaret = 0;
  qsizetype FAnchor = 0;
  qsizetype FTop = 0;        // first paragraph on screen
  qreal FTopOffset = 0;      // pixels of that paragraph hidden above the viewport
  qsizetype FEndTop = 0;     // the first paragraph when scrolled to the end
  qreal FEndOffset = 0;      // and its hidden pixels then
  qint64 FEndSlot = 0;       // and the scroll bar value that stands for it
  bool FScrollToEnd = false; // a scroll to the end waits for the next paint or query
  bool FRangeDirty = true;   // the scroll bar's range must be recomputed
  bool FSettingScroll = false;
  qint64 FShownSlot = -1;    // the scroll bar value that stands for FTop and FTopOffset
  int FWheelDelta = 0;       // wheel rotation not yet turned into rows (eighths of a degree)
};
