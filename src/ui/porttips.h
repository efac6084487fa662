#pragma once

#include <QObject>

class QComboBox;
class TDeviceWatcher;

// Keeps the port selector's entries described: each entry's tooltip and accessible
// description say what its COM name reaches now ("COM3: FT232R USB UART (FTDI, A50285BI) —
// /dev/ttyUSB0", or that nothing is there), refreshed when devices or aliases come and go.
// The selector itself carries the text of its current entry.
class TPortTips : public QObject {
  Q_OBJECT

 public:
  // Describes the combo's entries now and whenever devices change; owned by the combo.
  explicit TPortTips(QComboBox* combo);

  // Describes every entry again.
  void Refresh();

 private:
  void DescribeCurrent();

  QComboBox* FCombo;
  TDeviceWatcher* FWatcher;
};
