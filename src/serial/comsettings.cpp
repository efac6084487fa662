// The settings of the port: storing them, and re-applying a group when the port is open.
#include "serial/comsettings.h"

#include "serial/comport.h"

void TComSettingsGroup::Reapply() { FComPort.Reapply(FReapply); }

void TCustomComPort::Reapply(TComSettingsGroup::TStep step) {
  if (!FConnected || FUpdateCount > 0) return;
  (this->*step)();
}

void TCustomComPort::EndUpdate() {
  if (FUpdateCount == 0) return;
  if (--FUpdateCount == 0) ConfigureDevice();
}

template <class T>
void TCustomComPort::ChangeLineSetting(T& field, T value) {
  if (field == value) return;
  field = value;
  Reapply(&TCustomComPort::ApplyLineSettings);
}

void TCustomComPort::SetBaudRate(TBaudRate rate) { ChangeLineSetting(FBaudRate, rate); }

void TCustomComPort::SetCustomBaudRate(int rate) {
  if (rate == FCustomBaudRate) return;
  FCustomBaudRate = rate;
  if (FBaudRate == brCustom) Reapply(&TCustomComPort::ApplyLineSettings);
}

void TCustomComPort::SetDataBits(TDataBits value) { ChangeLineSetting(FDataBits, value); }

void TCustomComPort::SetStopBits(TStopBits value) { ChangeLineSetting(FStopBits, value); }

void TCustomComPort::SetDiscardNull(bool value) { ChangeLineSetting(FDiscardNull, value); }

void TCustomComPort::SetEventChar(char value) { ChangeLineSetting(FEventChar, value); }
