// Building the main window: its regions, pages, groups and controls at their design places,
// the menu and the dialogs, and the wiring of every control to its operation.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

#include "globals/errorreport.h"
#include "monitor/chart.h"
#include "monitor/sampletimer.h"
#include "parameters/paramtable.h"
#include "protocol/transactions.h"
#include "ui/logpane.h"
#include "ui/mainwindow.h"
#include "ui/opendialog.h"
#include "ui/porttips.h"
#include "ui/spinedit.h"
#include "version.h"

namespace {

const QString kCaption = QStringLiteral("ZIRV7 Tuning Tool Version 0.1");
constexpr int ClientWidth = 780;
constexpr int TopBarHeight = 33;
constexpr int PagesHeight = 472;
constexpr int PagesMinHeight = 450;
constexpr int SplitterHeight = 3;
constexpr int LogHeight = 100;
constexpr int MonitorStripHeight = 189;

// The window font: "Tahoma" 11 px where it exists. Elsewhere a face of about Tahoma's width
// (the captions must fit between their fixed places), else the desktop's sans-serif.
QFont WindowFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  for (const char* family : {"Tahoma", "Liberation Sans", "Arimo"}) {
    if (!QFontDatabase::hasFamily(QLatin1String(family))) continue;
    font = QFont(QLatin1String(family));
    break;
  }
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y) {
  auto* label = new QLabel(text, parent);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QPushButton* AddButton(QWidget* parent, const QString& text, int x, int y, int w, int h) {
  auto* button = new QPushButton(text, parent);
  button->setGeometry(x, y, w, h);
  return button;
}

// A check box whose caption stands left of the box.
QCheckBox* AddLeftCaptionCheckBox(QWidget* parent, const QString& text, int x, int y, int w) {
  auto* box = new QCheckBox(text, parent);
  box->setLayoutDirection(Qt::RightToLeft);
  box->setGeometry(x, y, w, 17);
  return box;
}

// Names an entry field after its caption label, for the user and for assistive technology.
void Caption(QLabel* label, QWidget* field) {
  label->setBuddy(field);
  field->setAccessibleName(label->text());
}

TSpinEdit* AddSpinEdit(QWidget* parent, int x, int y, int w, int increment, int min, int max,
                       int initial) {
  auto* field = new TSpinEdit(parent);
  field->setGeometry(x, y, w, 22);
  field->SetIncrement(increment);
  field->SetMinValue(min);
  field->SetMaxValue(max);
  field->SetValue(initial);
  return field;
}

}  // namespace

void NameApplication() {
  QApplication::setApplicationName(QStringLiteral("zirv7tune"));
  // The platform appends the display name to every window title that does not already end
  // with it; as the caption itself, it leaves the caption exactly as it is and titles the
  // error box with it.
  QApplication::setApplicationDisplayName(kCaption);
  QApplication::setDesktopFileName(QStringLiteral(ZIRV_APP_ID));
}

TfMain::TfMain(QWidget* parent)
    : QMainWindow(parent),
      Link([this](const QString& text, TColor colour) { LogLine(text, colour); }) {
  setObjectName(QStringLiteral("fMain"));
  BuildWindow();
  BuildMenu();
  // The client area below the menu is the design size.
  const int clientHeight = TopBarHeight + PagesHeight + SplitterHeight + LogHeight;
  resize(ClientWidth, clientHeight + menuBar()->sizeHint().height());
  BuildDialogs();
  SampleTimer = new TSampleTimer(1000, this);
  FinishBuilding();
  WireHandlers();
}

TfMain::~TfMain() {
  // Close the port while the window's members are still alive: a receive notification
  // delivered during the close still reaches a complete line channel.
  ComPort1.SetConnected(false);
}

void TfMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (FShown) return;
  FShown = true;
  Guarded([this] { FormShow(); });
}

void TfMain::BuildWindow() {
  setWindowTitle(kCaption);
  setFont(WindowFont());
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  setCentralWidget(central);

  BuildTopBar();
  layout->addWidget(Panel1);

  PageControl1 = new QTabWidget;
  PageControl1->setMinimumSize(ClientWidth, PagesMinHeight);
  tsParameters = new QWidget;
  tsRTMonitor = new QWidget;
  PageControl1->addTab(tsParameters, QStringLiteral("Parameters"));
  PageControl1->addTab(tsRTMonitor, QStringLiteral("RT Monitor"));
  tsParameters->setAccessibleName(QStringLiteral("Parameters"));
  tsRTMonitor->setAccessibleName(QStringLiteral("RT Monitor"));
  BuildParametersPage();
  BuildMonitorPage();

  Panel2 = new TLogRegion;
  Panel2->setMinimumHeight(LogHeight);

  // The splitter moves the boundary between the pages and the log; extra height goes to the log.
  Splitter1 = new QSplitter(Qt::Vertical);
  Splitter1->setHandleWidth(SplitterHeight);
  Splitter1->setChildrenCollapsible(false);
  Splitter1->addWidget(PageControl1);
  Splitter1->addWidget(Panel2);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({PagesHeight, LogHeight});
  layout->addWidget(Splitter1, 1);

  PageControl1->setCurrentWidget(tsParameters);
}

void TfMain::BuildTopBar() {
  Panel1 = new QWidget;
  Panel1->setFixedHeight(TopBarHeight);
  lbPort = AddLabel(Panel1, QStringLiteral("Port:"), 8, 10);
  cbPort = new QComboBox(Panel1);
  cbPort->setEditable(false);
  for (int n = 1; n <= 32; ++n) cbPort->addItem(QStringLiteral("COM%1").arg(n));
  cbPort->setGeometry(40, 6, 65, 21);
  cbPort->setCurrentIndex(0);
  Caption(lbPort, cbPort);
  new TPortTips(cbPort);
  btConnect = AddButton(Panel1, QStringLiteral("Connect"), 112, 4, 75, 25);
  btDisconnect = AddButton(Panel1, QStringLiteral("Disconnect"), 192, 4, 75, 25);
}

void TfMain::BuildParametersPage() {
  GroupBox5 = new QGroupBox(QStringLiteral("All Motor types"), tsParameters);
  GroupBox5->setGeometry(8, 3, 345, 310);
  GroupBox6 = new QGroupBox(QStringLiteral("BLDC specific"), tsParameters);
  GroupBox6->setGeometry(368, 3, 346, 146);

  const auto& table = ParamTable();
  int rowInGroup5 = 0, rowInGroup6 = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    const TParamRow& row = table[i];
    const bool bldc = QLatin1String(row.Group) == QLatin1String("BLDC specific");
    QGroupBox* group = bldc ? GroupBox6 : GroupBox5;
    const int y = 24 + 28 * (bldc ? rowInGroup6++ : rowInGroup5++);

    auto* field = new TAdvSpinEdit(group);
    field->setObjectName(QLatin1String(row.FieldName));
    field->setGeometry(144, y, 133, 22);
    field->SetSpinType(row.FloatMode ? sptFloat : sptNormal);
    field->SetPrecision(row.Precision);
    field->SetIncrement(row.Increment);
    field->SetIncrementPage(row.IncrementPage);
    field->SetIncrementFloat(row.IncrementFloat);
    field->SetIncrementFloatPage(row.IncrementFloatPage);
    field->SetMinValue(row.MinValue);
    field->SetMaxValue(row.MaxValue);
    field->SetValue(row.InitialValue);
    ParameterFields[i] = field;

    Caption(AddLabel(group, QLatin1String(row.Caption), bldc ? 16 : 12, y + 4), field);
    if (row.Unit && *row.Unit) AddLabel(group, QString::fromUtf8(row.Unit), 288, y + 4);
  }
  std::tie(seParametersP, seParametersI, seParametersD, seParametersDeadband,
           seParametersMaxOutput, seParametersFF0, seParametersFF1, seParametersFaultError,
           seParametersStepMultiplier, seParametersTPSC, seParametersHallTimeout,
           seParametersChargeElcos, seParametersPhaseAdvance, seParametersSVMCycle) =
      std::tuple_cat(ParameterFields);

  btReadBoardParams =
      AddButton(tsParameters, QStringLiteral("Read ZIRV parameters"), 538, 165, 176, 25);
  btWriteBoardParams =
      AddButton(tsParameters, QStringLiteral("Write to ZIRV EE-Prom"), 538, 196, 176, 25);
}

void TfMain::BuildMonitorPage() {
  auto* pageLayout = new QVBoxLayout(tsRTMonitor);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  pageLayout->setSpacing(0);
  auto* strip = new QWidget;
  strip->setFixedHeight(MonitorStripHeight);
  pageLayout->addWidget(strip);

  GroupBox1 = new QGroupBox(QStringLiteral("Sampling"), strip);
  GroupBox1->setGeometry(8, 8, 169, 175);
  cbSampleAutomatic = new QCheckBox(QStringLiteral("Automatic"), GroupBox1);
  cbSampleAutomatic->setGeometry(12, 24, 120, 17);
  auto* intervalLabel = AddLabel(GroupBox1, QStringLiteral("Interval:"), 12, 56);
  seSampleInterval = AddSpinEdit(GroupBox1, 60, 52, 73, 100, 200, 200000, 1000);
  Caption(intervalLabel, seSampleInterval);
  AddLabel(GroupBox1, QStringLiteral("ms"), 138, 56);
  btSampleStatus = AddButton(GroupBox1, QStringLiteral("Sample status"), 8, 140, 152, 25);

  GroupBox2 = new QGroupBox(QStringLiteral("Status"), strip);
  GroupBox2->setGeometry(183, 8, 230, 175);
  QLabel** values[] = {&lbStatusEnabled, &lbStatusError,  &lbStatusErrorI,
                       &lbStatusErrorD,  &lbStatusEncoder, &lbStatusCommand,
                       &lbStatusOutput,  &lbStatusOutputLimited, &lbStatusTestOsc};
  const char* captions[] = {"Enabled:", "Error:",  "Error I:",        "Error D:", "Encoder:",
                            "Command:", "Output:", "Output Limited:", "Test Osc:"};
  QFont bold = font();
  bold.setBold(true);
  for (int i = 0; i < 9; ++i) {
    const int y = 22 + 16 * i;
    QLabel* caption = AddLabel(GroupBox2, QLatin1String(captions[i]), 12, y);
    caption->setFont(bold);
    caption->adjustSize();
    // A value label is named by the value it shows (a label's own text, kept in step with
    // each sample) and labelled by its caption, so a screen reader reads "Error: -3.25".
    QLabel* value = AddLabel(GroupBox2, QStringLiteral("No data received yet"), 116, y);
    caption->setBuddy(value);
    *values[i] = value;
  }

  GroupBox3 = new QGroupBox(QStringLiteral("Step input response"), strip);
  GroupBox3->setGeometry(419, 8, 170, 175);
  auto* stepLabel = AddLabel(GroupBox3, QStringLiteral("Command step:"), 8, 28);
  seSICommandStep = AddSpinEdit(GroupBox3, 88, 24, 73, 1, 0, 0, 0);
  Caption(stepLabel, seSICommandStep);
  cbSIAutoFwdRev = AddLeftCaptionCheckBox(GroupBox3, QStringLiteral("auto Fw/Rev:"), 8, 56, 93);
  auto* predivLabel = AddLabel(GroupBox3, QStringLiteral("Prediv:"), 8, 86);
  seSIPrediv = AddSpinEdit(GroupBox3, 88, 82, 73, 1, StepMinPrediv, StepMaxPrediv, 0);
  Caption(predivLabel, seSIPrediv);
  btLaunchSITest = AddButton(GroupBox3, QStringLiteral("Launch Test"), 8, 140, 153, 25);

  GroupBox4 = new QGroupBox(QStringLiteral("Movement"), strip);
  GroupBox4->setGeometry(595, 8, 166, 175);
  auto* movementLabel = AddLabel(GroupBox4, QStringLiteral("Pos X 10 per sec:"), 8, 28);
  seMovement = AddSpinEdit(GroupBox4, 96, 24, 62, 10, 0, 0, 0);
  Caption(movementLabel, seMovement);
  cbLiveSet = AddLeftCaptionCheckBox(GroupBox4, QStringLiteral("Set when changing"), 8, 56, 113);
  btSetOscVal = AddButton(GroupBox4, QStringLiteral("Set"), 8, 108, 149, 25);
  btStop = AddButton(GroupBox4, QStringLiteral("Stop"), 8, 140, 149, 25);

  Chart1 = new TChart;
  pageLayout->addWidget(Chart1, 1);
}

void TfMain::BuildMenu() {
  File1 = menuBar()->addMenu(QStringLiteral("&File"));
  Open1 = File1->addAction(QStringLiteral("&Open Parameters"));
  SaveParameters1 = File1->addAction(QStringLiteral("&Save Parameters"));
  File1->addSeparator();
  Exit1 = File1->addAction(QStringLiteral("&E&xit"));
}

void TfMain::BuildDialogs() {
  // Qt's own dialogs behave the same on every desktop and can be driven by tests.
  KeepFileDialogsFromSettingsFiles();
  const QString filter = QStringLiteral("Parameter files (*.pset)");
  OpenDialog1 = new TOpenDialog(this);  // asks to create a name that does not exist
  OpenDialog1->setNameFilter(filter);
  OpenDialog1->setDefaultSuffix(QStringLiteral("pset"));

  SaveDialog1 = new QFileDialog(this);
  SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
  SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
  SaveDialog1->setNameFilter(filter);
  SaveDialog1->setDefaultSuffix(QStringLiteral("pset"));
  SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog1->setFileMode(QFileDialog::AnyFile);
}

void TfMain::FinishBuilding() {
  // Every control carries its name, so automation and tests find it by the name the code uses.
  const std::pair<QObject*, const char*> names[] = {
      {Panel1, "Panel1"}, {cbPort, "cbPort"}, {btConnect, "btConnect"},
      {btDisconnect, "btDisconnect"}, {PageControl1, "PageControl1"},
      {tsParameters, "tsParameters"}, {tsRTMonitor, "tsRTMonitor"}, {Splitter1, "Splitter1"},
      {Panel2, "Panel2"}, {GroupBox5, "GroupBox5"}, {GroupBox6, "GroupBox6"},
      {btReadBoardParams, "btReadBoardParams"}, {btWriteBoardParams, "btWriteBoardParams"},
      {GroupBox1, "GroupBox1"}, {cbSampleAutomatic, "cbSampleAutomatic"},
      {seSampleInterval, "seSampleInterval"}, {btSampleStatus, "btSampleStatus"},
      {GroupBox2, "GroupBox2"}, {lbStatusEnabled, "lbStatusEnabled"},
      {lbStatusError, "lbStatusError"}, {lbStatusErrorI, "lbStatusErrorI"},
      {lbStatusErrorD, "lbStatusErrorD"}, {lbStatusEncoder, "lbStatusEncoder"},
      {lbStatusCommand, "lbStatusCommand"}, {lbStatusOutput, "lbStatusOutput"},
      {lbStatusOutputLimited, "lbStatusOutputLimited"}, {lbStatusTestOsc, "lbStatusTestOsc"},
      {GroupBox3, "GroupBox3"}, {seSICommandStep, "seSICommandStep"},
      {cbSIAutoFwdRev, "cbSIAutoFwdRev"}, {seSIPrediv, "seSIPrediv"},
      {btLaunchSITest, "btLaunchSITest"}, {GroupBox4, "GroupBox4"}, {seMovement, "seMovement"},
      {cbLiveSet, "cbLiveSet"}, {btSetOscVal, "btSetOscVal"}, {btStop, "btStop"},
      {Chart1, "Chart1"}, {File1, "File1"}, {Open1, "Open1"},
      {SaveParameters1, "SaveParameters1"}, {Exit1, "Exit1"}, {OpenDialog1, "OpenDialog1"},
      {SaveDialog1, "SaveDialog1"}};
  for (const auto& [object, name] : names) object->setObjectName(QLatin1String(name));

  // From here on the entry fields raise their change notifications.
  for (TAdvSpinEdit* field : ParameterFields) field->Loaded();
  for (TSpinEdit* field : {seSampleInterval, seSICommandStep, seSIPrediv, seMovement})
    field->Loaded();
}

template <class Sender, class Signal>
void TfMain::Wire(Sender* sender, Signal signal, void (TfMain::*operation)()) {
  connect(sender, signal, this, [this, operation] { RunAction(operation); });
}

void TfMain::WireHandlers() {
  Wire(btConnect, &QPushButton::clicked, &TfMain::btConnectClick);
  Wire(btDisconnect, &QPushButton::clicked, &TfMain::btDisconnectClick);
  ComPort1.OnDeviceLost = [this](TComPort*) { ComPort1DeviceLost(); };
  Wire(btReadBoardParams, &QPushButton::clicked, &TfMain::btReadBoardParamsClick);
  Wire(btWriteBoardParams, &QPushButton::clicked, &TfMain::btWriteBoardParamsClick);
  for (TAdvSpinEdit* field : ParameterFields)
    Wire(field, &TAdvSpinEdit::OnChange, &TfMain::seParametersPChange);
  Wire(btSampleStatus, &QPushButton::clicked, &TfMain::btSampleStatusClick);
  Wire(SampleTimer, &TSampleTimer::OnTimer, &TfMain::SampleTimerTimer);
  Wire(seSampleInterval, &TSpinEdit::OnChange, &TfMain::seSampleIntervalChange);
  Wire(btLaunchSITest, &QPushButton::clicked, &TfMain::btLaunchSITestClick);
  Wire(btSetOscVal, &QPushButton::clicked, &TfMain::btSetOscValClick);
  Wire(btStop, &QPushButton::clicked, &TfMain::btStopClick);
  Wire(seMovement, &TSpinEdit::OnChange, &TfMain::seMovementChange);
  Wire(Open1, &QAction::triggered, &TfMain::Open1Click);
  Wire(SaveParameters1, &QAction::triggered, &TfMain::SaveParameters1Click);
  // "Exit" closes the window, which ends the program.
  connect(Exit1, &QAction::triggered, this, &QWidget::close);
}

#include "moc_mainwindow.cpp"
