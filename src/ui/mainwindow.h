#pragma once

#include <QMainWindow>
#include <QString>
#include <array>

#include "globals/colors.h"
#include "globals/records.h"
#include "parameters/paramtable.h"
#include "serial/comport.h"
#include "serial/linechannel.h"
#include "serial/portlink.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QTabWidget;
class TAdvSpinEdit;
class TChart;
class TLogRegion;
class TSampleTimer;
class TSpinEdit;

// Gives the application its names: the program's name, the desktop file, and a display name
// for the error box.
void NameApplication();

// The main window. It owns the serial port, the line channel, the board's parameter record,
// the sampling timer, the chart, the log and every entry field, and every operation of the
// tool is one of its methods. Handlers are thin: each runs its operation as one user action,
// whose errors go to the application's standard error report.
class TfMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfMain(QWidget* parent = nullptr);
  ~TfMain() override;

  // --- Serial link and log (mainwindow_serial.cpp) ---
  void FormShow();
  void UpdateConnectionControls();
  void btConnectClick();
  void btDisconnectClick();
  void ComPort1DeviceLost();
  void LogLine(const QString& text, TColor colour);

  // --- Parameters page and parameter files (mainwindow_parameters.cpp) ---
  void btReadBoardParamsClick();
  void btWriteBoardParamsClick();
  void ShowParameters();
  void MarkChangedParameters();
  bool WriteChangedParameters();
  void seParametersPChange();
  void Open1Click();
  void SaveParameters1Click();
  void SaveParameterFile(const QString& fileName);
  void LoadParameterFile(const QString& fileName);

  // --- RT Monitor page (mainwindow_monitor.cpp) ---
  void SampleStatus();
  void btSampleStatusClick();
  void SampleTimerTimer();
  void seSampleIntervalChange();
  void RunStepResponse(int step, int prediv);
  void btLaunchSITestClick();
  void btSetOscValClick();
  void btStopClick();
  void seMovementChange();

  // --- State ---
  TPortLink Link;  // the port and the line channel, wired
  TComPort& ComPort1 = Link.Port;
  TLineChannel& Channel = Link.Channel;  // RS232Buf, LineBuf, Timeout, FWaitRS232 and the waits
  TPIDParams ActPIDParams;
  TSampleTimer* SampleTimer;

  // --- Controls, by the names the rest of the tool uses ---
  QWidget* Panel1;
  QLabel* lbPort;
  QComboBox* cbPort;
  QPushButton* btConnect;
  QPushButton* btDisconnect;
  QTabWidget* PageControl1;
  QWidget* tsParameters;
  QWidget* tsRTMonitor;
  QSplitter* Splitter1;
  TLogRegion* Panel2;

  QGroupBox* GroupBox5;  // "All Motor types"
  QGroupBox* GroupBox6;  // "BLDC specific"
  std::array<TAdvSpinEdit*, kParamCount> ParameterFields{};  // in parameter-table order
  TAdvSpinEdit* seParametersP;
  TAdvSpinEdit* seParametersI;
  TAdvSpinEdit* seParametersD;
  TAdvSpinEdit* seParametersDeadband;
  TAdvSpinEdit* seParametersMaxOutput;
  TAdvSpinEdit* seParametersFF0;
  TAdvSpinEdit* seParametersFF1;
  TAdvSpinEdit* seParametersFaultError;
  TAdvSpinEdit* seParametersStepMultiplier;
  TAdvSpinEdit* seParametersTPSC;
  TAdvSpinEdit* seParametersHallTimeout;
  TAdvSpinEdit* seParametersChargeElcos;
  TAdvSpinEdit* seParametersPhaseAdvance;
  TAdvSpinEdit* seParametersSVMCycle;
  QPushButton* btReadBoardParams;
  QPushButton* btWriteBoardParams;

  QGroupBox* GroupBox1;  // "Sampling"
  QCheckBox* cbSampleAutomatic;
  TSpinEdit* seSampleInterval;
  QPushButton* btSampleStatus;
  QGroupBox* GroupBox2;  // "Status"
  QLabel* lbStatusEnabled;
  QLabel* lbStatusError;
  QLabel* lbStatusErrorI;
  QLabel* lbStatusErrorD;
  QLabel* lbStatusEncoder;
  QLabel* lbStatusCommand;
  QLabel* lbStatusOutput;
  QLabel* lbStatusOutputLimited;
  QLabel* lbStatusTestOsc;
  QGroupBox* GroupBox3;  // "Step input response"
  TSpinEdit* seSICommandStep;
  QCheckBox* cbSIAutoFwdRev;
  TSpinEdit* seSIPrediv;
  QPushButton* btLaunchSITest;
  QGroupBox* GroupBox4;  // "Movement"
  TSpinEdit* seMovement;
  QCheckBox* cbLiveSet;
  QPushButton* btSetOscVal;
  QPushButton* btStop;
  TChart* Chart1;

  QMenu* File1;
  QAction* Open1;
  QAction* SaveParameters1;
  QAction* Exit1;
  QFileDialog* OpenDialog1;
  QFileDialog* SaveDialog1;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Layout (mainwindow.cpp).
  void BuildWindow();
  void BuildTopBar();
  void BuildParametersPage();
  void BuildMonitorPage();
  void BuildMenu();
  void BuildDialogs();
  void WireHandlers();
  void FinishBuilding();
  // Connects a control's signal to an operation, run as one guarded user action.
  template <class Sender, class Signal>
  void Wire(Sender* sender, Signal signal, void (TfMain::*operation)());
  // Runs one user action and reports the error that ends it (mainwindow_serial.cpp).
  void RunAction(void (TfMain::*operation)());
  // Stops what would repeat a failure of the link with the board behind its report.
  void BoardLinkFailed(bool deviceLost);

  bool FShown = false;
  // A step test is waiting for its answer.
  bool FStepTestRunning = false;
  // The board's parameters have been read once: ActPIDParams holds values the board sent.
  bool FBoardParamsRead = false;
  // Counts failures of the link with the board, so that an action can tell whether one of
  // its steps failed and was reported already.
  int FLinkFailures = 0;
};
