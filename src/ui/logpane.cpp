#include "ui/logpane.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "globals/numtext.h"
#include "ui/logaccessible.h"
#include "ui/qcolors.h"

namespace {

constexpr int kPaneWidth = 616;
constexpr int kSquareSize = 17;

// A font by face name that falls back to the desktop's sans-serif face where the named face is
// not installed, as on most Linux desktops.
QFont FontWithFallback(const QString& family) {
  QFont font(family);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

// The pane's own font, used only for text the user types: "Tahoma", 11 pixels high.
QFont PaneFont() {
  QFont font = FontWithFallback(QStringLiteral("Tahoma"));
  font.setPixelSize(11);
  return font;
}

// The font of every entry: "MS Sans Serif", 8 points.
QFont EntryFont() {
  QFont font = FontWithFallback(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  return font;
}

}  // namespace

TLogRegion::TLogRegion(QWidget* parent)
    : QWidget(parent), FClock([] { return QTime::currentTime(); }) {
  RefreshTimeFormat();
  FEntryFont = EntryFont();
  CreatePane();
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);
  layout->addWidget(reLog);
  layout->addWidget(CreateLegend(), 1);
  setMinimumHeight(100);
}

void TLogRegion::CreatePane() {
  reLog = new TLogView(this);
  MakeLogViewAccessible(reLog);
  reLog->setObjectName(QStringLiteral("reLog"));
  reLog->setFixedWidth(kPaneWidth);
  reLog->setFont(PaneFont());
  reLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  reLog->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Screen readers and automation find the pane under the caption a person reads beside it.
  reLog->setAccessibleName(QStringLiteral("RS232 logging:"));
}

QWidget* TLogRegion::CreateLegend() {
  auto* legend = new QWidget(this);
  auto* column = new QVBoxLayout(legend);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(4);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("RS232 logging:"), legend));
  top->addStretch(1);
  btClearLog = new QPushButton(QStringLiteral("Clear"), legend);
  btClearLog->setObjectName(QStringLiteral("btClearLog"));
  btClearLog->setFixedSize(37, 19);
  connect(btClearLog, &QPushButton::clicked, this, &TLogRegion::btClearLogClick);
  top->addWidget(btClearLog, 0, Qt::AlignTop);
  column->addLayout(top);
  column->addWidget(CreateLegendRow(clBlue, QStringLiteral("= from ZIRV")));
  column->addWidget(CreateLegendRow(clGreen, QStringLiteral("= from PC")));
  column->addWidget(CreateLegendRow(clRed, QStringLiteral("= from Software")));
  column->addStretch(1);
  return legend;
}

QWidget* TLogRegion::CreateLegendRow(TColor colour, const QString& caption) {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* square = new QWidget(row);
  square->setObjectName(QStringLiteral("legendSquare"));
  square->setFixedSize(kSquareSize, kSquareSize);
  square->setAutoFillBackground(true);
  QPalette palette = square->palette();
  palette.setColor(QPalette::Window, ToQColor(colour));
  square->setPalette(palette);
  layout->addWidget(square);
  layout->addWidget(new QLabel(caption, row), 1);
  return row;
}

void TLogRegion::LogLine(const QString& text, TColor colour) {
  const QString entry = FormatTimeStamp(FClock(), FTimeFormat) + QStringLiteral("  ") +
                        TrimControls(text).toString();
  // Only a cleared, still empty pane takes the entry on its first line; otherwise the entry is
  // a new paragraph after the last one (at start, after the initial empty line).
  const bool firstLine = FCleared && reLog->IsEmpty();
  reLog->AppendText(entry, colour, FEntryFont, !firstLine);
  FCleared = false;
  reLog->MoveCaretToEndAndScroll();
}

void TLogRegion::btClearLogClick() {
  reLog->Clear();
  FCleared = true;
}

QString TLogRegion::PlainText() const {
  return reLog->Text();
}

void TLogRegion::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LocaleChange) RefreshTimeFormat();
  QWidget::changeEvent(event);
}

void TLogRegion::RefreshTimeFormat() {
  FTimeFormat = LongTimeFormatOf(QLocale::system());
}

#include "moc_logpane.cpp"
