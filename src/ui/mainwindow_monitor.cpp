// The "RT Monitor" page: status sampling, the step-response test and the movement oscillator.
#include <QCheckBox>
#include <QLabel>
#include <QScopedValueRollback>

#include "globals/numtext.h"
#include "monitor/chart.h"
#include "monitor/sampletimer.h"
#include "protocol/transactions.h"
#include "ui/mainwindow.h"
#include "ui/spinedit.h"

namespace {

// Enables the timer when the operation ends, also when it ends with an error, so a failed
// exchange never leaves sampling switched off behind the user's back.
class TTimerEnableOnExit {
 public:
  explicit TTimerEnableOnExit(TSampleTimer& timer) : FTimer(timer) {}
  ~TTimerEnableOnExit() { FTimer.SetEnabled(true); }

 private:
  TSampleTimer& FTimer;
};

}  // namespace

void TfMain::SampleStatus() {
  TPIDStatus status;
  ReadStatus(Channel, status);
  if (!status.Valid) {
    LogLine(QStringLiteral("Could not retreive status"), clRed);
    return;
  }
  lbStatusEnabled->setText(QString::number(status.Enabled));
  lbStatusError->setText(FormatNumber(status.Error));
  lbStatusErrorI->setText(FormatNumber(status.ErrorI));
  lbStatusErrorD->setText(FormatNumber(status.ErrorD));
  lbStatusEncoder->setText(QString::number(status.Feedback));
  lbStatusCommand->setText(QString::number(status.Command));
  lbStatusOutput->setText(FormatNumber(status.Output));
  lbStatusOutputLimited->setText(QString::number(status.LimitState));
  lbStatusTestOsc->setText(QString::number(status.TestOsc));
  Chart1->AddChartPoint(status.Output, status.Error);
}

void TfMain::btSampleStatusClick() { SampleStatus(); }

void TfMain::SampleTimerTimer() {
  if (!cbSampleAutomatic->isChecked()) return;
  // A closed port clears "Automatic"; the tick still samples, and that sample fails at the
  // port with "Port Not Open". A failed tick leaves "Automatic" clear (RunAction), and the
  // timer is enabled again all the same, so ticking "Automatic" again samples again.
  if (!ComPort1.Connected()) cbSampleAutomatic->setChecked(false);
  SampleTimer->SetInterval(seSampleInterval->Value());
  SampleTimer->SetEnabled(false);
  TTimerEnableOnExit enable(*SampleTimer);
  SampleStatus();
}

void TfMain::seSampleIntervalChange() { SampleTimer->SetInterval(seSampleInterval->Value()); }

void TfMain::RunStepResponse(int step, int prediv) {
  // Each pair is plotted as it is parsed: an unreadable number further on ends the action with
  // its error, and the points before it stay on the chart. The wait lasts as long as the board
  // needs at the servo cycle the "Ticks per servo cycle (t):" field gives.
  StepResponseExchange(Channel, prediv, step, seParametersTPSC->Value(),
                       [this](const TStepSample& s) { Chart1->AddChartPoint(s.Output, s.Error); });
}

void TfMain::btLaunchSITestClick() {
  // The board takes about a second to answer a step test, and the wait handles clicks. A
  // further Launch meanwhile would send its command into the middle of that answer: it is
  // dropped, and so is its flip of the step.
  if (FStepTestRunning) return;
  const QScopedValueRollback running(FStepTestRunning, true);
  if (cbSampleAutomatic->isChecked()) SampleTimer->SetEnabled(false);
  {
    TTimerEnableOnExit enable(*SampleTimer);
    RunStepResponse(seSICommandStep->Value(), seSIPrediv->Value());
  }
  if (cbSIAutoFwdRev->isChecked()) seSICommandStep->SetValue(-seSICommandStep->Value());
}

void TfMain::btSetOscValClick() {
  const double oscillator = OscillatorValue(seMovement->Value());
  SampleTimer->SetEnabled(false);
  TTimerEnableOnExit enable(*SampleTimer);
  Channel.FlushReceive();
  double echoed = 0;
  if (!SetBoardValue(Channel, QStringLiteral("o"), QStringLiteral("(o)"), oscillator, echoed))
    LogLine(QStringLiteral("Error"), clRed);
}

void TfMain::btStopClick() {
  // With "Set when changing" ticked the change to 0 sends "o 0" first. When that send failed
  // and was reported, or lost the device, Stop ends there: sending again would only raise the
  // same failure a second time.
  const int failures = FLinkFailures;
  seMovement->SetValue(0);
  if (FLinkFailures != failures) return;
  btSetOscValClick();
}

void TfMain::seMovementChange() {
  if (cbLiveSet->isChecked()) btSetOscValClick();
}
