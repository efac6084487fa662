// The connection control, the loss of the port's device and the log.
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>

#include "globals/errorreport.h"
#include "ui/logpane.h"
#include "ui/mainwindow.h"

void TfMain::FormShow() {
  // Numbers are written and read with "." everywhere already (the number text never consults
  // the locale), so only the received-line list is left to create.
  Channel.CreateLineBuf();
  UpdateConnectionControls();
}

void TfMain::UpdateConnectionControls() {
  Channel.RS232Buf.clear();
  const bool connected = ComPort1.Connected();
  btConnect->setEnabled(!connected);
  cbPort->setEnabled(!connected);
  btDisconnect->setEnabled(connected);
  tsRTMonitor->setEnabled(connected);
  tsParameters->setEnabled(connected);
}

void TfMain::btConnectClick() {
  Link.Connect(cbPort->currentText());
  UpdateConnectionControls();
}

void TfMain::btDisconnectClick() {
  ComPort1.SetConnected(false);
  UpdateConnectionControls();
}

// The board has gone away (hang-up, unplug): nothing more can pass the port. The window closes
// it and shows the disconnected state, as Disconnect would, and sampling stops; the loss itself
// is reported once, by the error of whatever found it. Connect opens the device again once it
// is back.
void TfMain::ComPort1DeviceLost() {
  ++FLinkFailures;
  cbSampleAutomatic->setChecked(false);
  ComPort1.SetConnected(false);
  UpdateConnectionControls();
}

void TfMain::RunAction(void (TfMain::*operation)()) {
  Guarded([&] {
    try {
      (this->*operation)();
    } catch (const EComPort& e) {
      BoardLinkFailed(IsDeviceLoss(e));
      throw;
    } catch (const EConvertError&) {
      BoardLinkFailed(false);
      throw;
    }
  });
}

// Runs before the failure is reported. The report's box runs the event loop, so a tick, a
// held arrow button or a resumed exchange could raise the same failure again behind it, box
// inside box. Sampling therefore stops where the user sees it ("Automatic" is cleared; ticking
// it again resumes), and a device that has gone away is closed.
void TfMain::BoardLinkFailed(bool deviceLost) {
  ++FLinkFailures;
  cbSampleAutomatic->setChecked(false);
  if (deviceLost && ComPort1.Connected()) ComPort1DeviceLost();
}

void TfMain::LogLine(const QString& text, TColor colour) { Panel2->LogLine(text, colour); }
