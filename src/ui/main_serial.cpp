// The connection control, the line channel's receive notification and the log.
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>

#include "ui/logpane.h"
#include "ui/main.h"

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
  ComPort1.SetConnected(false);
  ComPort1.SetBaudRate(br57600);
  ComPort1.SetPort(cbPort->currentText());
  ComPort1.SetConnected(true);
  UpdateConnectionControls();
  Channel.FWaitRS232 = false;
}

void TfMain::btDisconnectClick() {
  ComPort1.SetConnected(false);
  UpdateConnectionControls();
}

void TfMain::ComPort1RxChar() { Channel.ComPort1RxChar(); }

void TfMain::LogLine(const QString& text, TColor colour) { Panel2->LogLine(text, colour); }
