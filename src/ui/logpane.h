#pragma once

#include <QPushButton>
#include <QTime>
#include <QWidget>
#include <functional>

#include "globals/colors.h"
#include "ui/logview.h"
#include "ui/timestamp.h"

class QEvent;
class QLabel;

// The bottom region of the main window: the communication log pane, its colour legend and its
// Clear button. Every entry is one time-stamped paragraph in one colour. The log is never
// trimmed, so the pane is a view that stores its text compactly and lays out only the lines
// on screen, which keeps an append cheap however long the log grows; the user can type in it.
class TLogRegion : public QWidget {
  Q_OBJECT

 public:
  // Creates the region with the pane holding a single empty line.
  explicit TLogRegion(QWidget* parent = nullptr);

  // The log pane (editable; vertical scroll bar only; lines wrap at its width).
  TLogView* reLog = nullptr;
  // The "Clear" button at the top right of the region.
  QPushButton* btClearLog = nullptr;

  // Appends one entry at the end of the pane, whatever the user selected: the time stamp, two
  // spaces and the text without leading and trailing blanks and control characters, all in the
  // given colour; then puts the caret at the end and scrolls it into view.
  void LogLine(const QString& text, TColor colour);

  // Empties the pane, its initial empty line included; the next entry is the first line.
  void btClearLogClick();

  // Returns the pane's whole text, one line per paragraph separated by '\n'.
  QString PlainText() const;

  // Returns the time format the stamps currently follow.
  const TLongTimeFormat& TimeFormat() const { return FTimeFormat; }
  // Replaces the time format until the system next announces a locale change.
  void SetTimeFormat(const TLongTimeFormat& format) { FTimeFormat = format; }
  // Replaces the clock that gives the time of day of each entry (tests use a fixed one).
  void SetClock(std::function<QTime()> clock) { FClock = std::move(clock); }

 protected:
  // Rereads the user's long time format when the system announces a change of settings.
  void changeEvent(QEvent* event) override;

 private:
  void CreatePane();
  QWidget* CreateLegend();
  QWidget* CreateLegendRow(TColor colour, const QString& caption);
  void RefreshTimeFormat();

  TLongTimeFormat FTimeFormat;
  std::function<QTime()> FClock;
  QFont FEntryFont;              // the font of every entry
  bool FCleared = false;         // the pane was cleared, so an empty pane has no line yet
};
