#include "ctl/boardcmd.h"

#include "ctl/porterrors.h"
#include "globals/numtext.h"
#include "parameters/paramtable.h"
#include "protocol/paramwrite.h"

bool OpenBoard(TCtlIo& io, TBoardSession& session, const QString& port) {
  try {
    session.Link().Open(port);
  } catch (const Exception& e) {
    PrintPortError(io, port, e);
    return false;
  }
  QString failure;
  if (session.ReadOriginals(failure)) return true;
  if (session.Link().Port().DeviceLost())
    PrintError(io, port, failure);
  else
    PrintSilentBoard(io, port, failure, QStringLiteral("l"));
  return false;
}

bool WriteToBoard(TCtlIo& io, TBoardSession& session, const TParamValues& target, TEchoRule rule,
                  const QString& source) {
  auto onDiffering = [&](const TParamWrite& w) {
    PrintError(io, session.PortName(),
               QStringLiteral("the board holds %1 %2 where %3 has %4")
                   .arg(QLatin1String(w.Row->FileKey), FormatNumber(w.Echoed), source,
                        FormatNumber(w.Sent)));
  };
  QString failure;
  if (session.Write(target, rule, failure, onDiffering)) return true;
  PrintError(io, session.PortName(), QStringLiteral("%1: %2").arg(source, failure));
  return false;
}

namespace {

// Returns "P=0.2 FF0=0.3": the original values of the rows, as a parameter file has them.
QString OriginalValuesText(const std::vector<TValueDifference>& differences) {
  QStringList values;
  for (const TValueDifference& d : differences)
    values.append(QStringLiteral("%1=%2").arg(QLatin1String(d.Row->FileKey), FormatNumber(d.Original)));
  return values.join(QLatin1Char(' '));
}

}  // namespace

bool PutBoardBack(TCtlIo& io, TBoardSession& session) {
  io.Err << session.PortName() << ": putting the board's values back\n" << Qt::flush;
  QString failure;
  if (session.PutBack(failure)) return true;
  const std::vector<TValueDifference> left = session.Differences();
  PrintError(io, session.PortName(),
             QStringLiteral("the board's values could not be put back (%1); it may still hold %2; "
                            "they were: %3")
                 .arg(failure, DifferencesText(left), OriginalValuesText(left)));
  return false;
}
