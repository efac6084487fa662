#include "boardsession/session.h"

#include <cerrno>

#include "devices/explain.h"
#include "globals/numtext.h"
#include "parameters/paramtable.h"
#include "protocol/transactions.h"
#include "serial/comerrors.h"

namespace {

// The failure of a port that could not be opened, explained for the command line.
TFailure OpenFailure(const Exception& e) {
  const auto* comError = dynamic_cast<const EComPort*>(&e);
  if (!comError || comError->PortName.isEmpty()) return TFailure::Of(e);
  return {e.Message(), comError->ExplanationFor(TAudience::CommandLine)};
}

}  // namespace

TBoardSession::TBoardSession(TLineChannel::TLogLine log) : FLink(std::move(log)) {}

TResult<void> TBoardSession::Open(const QString& port) {
  if (TResult<void> opened = OpenPort(port); !opened) return opened;
  return Read();
}

TResult<void> TBoardSession::OpenPort(const QString& port) {
  FGoneInExchange = false;
  try {
    FLink.Open(port);
  } catch (const Exception& e) {
    return OpenFailure(e);
  }
  return {};
}

TResult<void> TBoardSession::Exchange(const QString& sent, const std::function<void()>& exchange) {
  const TResult<void> done = Catching([&] {
    try {
      exchange();
    } catch (const EComPort& e) {
      // A purge or a write can meet the loss before the port's event thread has told of it.
      FGoneInExchange = FGoneInExchange || IsDeviceLoss(e);
      throw;
    }
  });
  const QStringList errors = FLink.TakeReceiveErrors();
  if (!done) return Failure(done.Failure().Message, sent);
  if (!errors.isEmpty()) return Failure(errors.constLast(), sent);
  return {};
}

TResult<void> TBoardSession::Read() {
  const QString sent = QStringLiteral("l");
  TPIDParams read;
  const TResult<void> exchanged = Exchange(sent, [&] { ReadParameters(FLink.Channel(), read); });
  if (!exchanged) return exchanged;
  if (!read.Valid) return Failure(QStringLiteral("Error reading params"), sent);
  FBoard = read;
  FUnanswered.reset();
  return {};
}

TResult<double> TBoardSession::Send(const TParamRow& row, double value, TValueText text) {
  const QString letter = QString(QLatin1Char(row.Letter));
  const QString valueText = ValueTextOf(value, text);
  // Marked before it goes: an answer that never comes leaves the row's value unknown.
  FUnanswered.set(RowIndex(row));
  bool answered = false;
  double echoed = 0;
  // Its own tag's line: the rest of an earlier answer (a status that came too late for its
  // sample) may still be arriving and is no answer to the write.
  const TResult<void> exchanged = Exchange(SetCommandText(letter, valueText), [&] {
    answered = SetBoardValueTagged(FLink.Channel(), letter, QLatin1String(row.Tag), valueText, echoed);
  });
  if (!exchanged) return exchanged.Failure();
  if (!answered) return Failure(QStringLiteral("Error writing params"), SetCommandText(letter, valueText));
  FUnanswered.reset(RowIndex(row));
  StoreAnswer(FBoard, row, echoed);
  return echoed;
}

bool TBoardSession::Unanswered(const TParamRow& row) const { return FUnanswered.test(RowIndex(row)); }

bool TBoardSession::DeviceLost() const { return FGoneInExchange || FLink.Port().DeviceLost(); }

TFailure TBoardSession::Failure(const QString& message, const QString& sent) const {
  const TComPort& port = FLink.Port();
  QStringList explanation;
  if (DeviceLost())
    explanation.append(ExplainFailureInUse(port.OpenedAt(), EIO, TAudience::CommandLine));
  else if (!sent.isEmpty())
    explanation.append(ExplainSilentBoard(PortName(), sent));
  // Another program with the device open would take part of the answers.
  explanation.append(UncheckedHoldersNote(port.OpenedAt(), port.UncheckedHolders()));
  explanation.removeAll(QString());
  return {message, explanation.join(u'\n')};
}

QString SetCommandOf(const TParamRow& row, double value, TValueText text) {
  return SetCommandText(QString(QLatin1Char(row.Letter)), ValueTextOf(value, text));
}
