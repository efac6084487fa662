#include "ui/porttips.h"

#include <QComboBox>

#include "devices/devicewatcher.h"
#include "devices/explain.h"

TPortTips::TPortTips(QComboBox* combo)
    : QObject(combo), FCombo(combo), FWatcher(new TDeviceWatcher(this)) {
  connect(FWatcher, &TDeviceWatcher::Changed, this, &TPortTips::Refresh);
  connect(combo, &QComboBox::currentIndexChanged, this, &TPortTips::DescribeCurrent);
  Refresh();
}

void TPortTips::Refresh() {
  const QList<TSerialDevice> present = ListSerialDevices();
  for (int i = 0; i < FCombo->count(); ++i) {
    const QString text = DescribeComName(FCombo->itemText(i), present);
    FCombo->setItemData(i, text, Qt::ToolTipRole);
    FCombo->setItemData(i, text, Qt::AccessibleDescriptionRole);
  }
  DescribeCurrent();
}

void TPortTips::DescribeCurrent() {
  const QString text = FCombo->currentData(Qt::ToolTipRole).toString();
  FCombo->setToolTip(text);
  FCombo->setAccessibleDescription(text);
}

#include "moc_porttips.cpp"
