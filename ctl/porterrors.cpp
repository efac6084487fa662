#include "ctl/porterrors.h"

#include <cerrno>

#include "devices/explain.h"
#include "serial/comport.h"

namespace {

// The explanation beneath the error line, as it stands: it already ends its own lines.
void PrintExplanation(TCtlIo& io, const QString& text) {
  if (text.isEmpty()) return;
  io.Err << text << "\n" << Qt::flush;
}

}  // namespace

void PrintPortError(TCtlIo& io, const QString& port, const Exception& error) {
  PrintError(io, port, error.Message());
  const auto* comError = dynamic_cast<const EComPort*>(&error);
  if (!comError || comError->PortName.isEmpty()) {
    PrintExplanation(io, error.Explanation());
    return;
  }
  PrintExplanation(io, comError->ExplanationFor(TAudience::CommandLine));
}

void PrintSilentBoard(TCtlIo& io, const QString& port, const TCustomComPort& comPort,
                      const QString& failure, const QString& sent) {
  PrintError(io, port, failure);
  PrintExplanation(io, ExplainSilentBoard(port, sent));
  PrintExplanation(io, UncheckedHoldersNote(comPort.OpenedAt(), comPort.UncheckedHolders()));
}

void PrintFailureInUse(TCtlIo& io, const QString& port, const TCustomComPort& comPort,
                       const QString& failure) {
  PrintError(io, port, failure);
  if (comPort.DeviceLost())
    PrintExplanation(io, ExplainFailureInUse(comPort.OpenedAt(), EIO, TAudience::CommandLine));
  PrintExplanation(io, UncheckedHoldersNote(comPort.OpenedAt(), comPort.UncheckedHolders()));
}
