// zirv7ctl watch: the board's status as a stream, to a terminal, a CSV file or JSON Lines.
#include <QFileInfo>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "boardsession/interrupt.h"
#include "ctl/boardcmd.h"
#include "ctl/commands.h"
#include "ctl/options.h"
#include "ctl/outputoptions.h"
#include "globals/numtext.h"
#include "motion/statusstream.h"
#include "outputfile/streamwriter.h"

namespace {

// Returns whether standard output is a pipe or socket: a write that fails there means that the
// reader has gone (| head), which ends the stream as Ctrl+C does.
bool OutputIsPipe() {
  struct stat s {};
  return ::fstat(STDOUT_FILENO, &s) == 0 && (S_ISFIFO(s.st_mode) || S_ISSOCK(s.st_mode));
}

const QString kClosedPipe = QStringLiteral("standard output closed");

// The human table on a terminal or in a file: one aligned line a sample.
QString TableHeader() {
  return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
      .arg(QStringLiteral("SECONDS"), 9)
      .arg(QStringLiteral("COMMAND"), 11)
      .arg(QStringLiteral("FEEDBACK"), 11)
      .arg(QStringLiteral("ERROR"), 9)
      .arg(QStringLiteral("OUTPUT"), 9)
      .arg(QStringLiteral("LIMIT"), 5)
      .arg(QStringLiteral("ENABLED"), 7)
      .arg(QStringLiteral("OSC"), 9);
}

QString TableRow(const TStatusSample& s) {
  const TPIDStatus& v = s.Status;
  return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
      .arg(FixedNumberText(s.Seconds, 3), 9)
      .arg(v.Command, 11)
      .arg(v.Feedback, 11)
      .arg(FormatNumber(v.Error), 9)
      .arg(FormatNumber(v.Output), 9)
      .arg(v.LimitState, 5)
      .arg(v.Enabled, 7)
      .arg(v.TestOsc, 9);
}

// Where the samples go: a CSV file, standard output (CSV, JSON Lines or the table), or both.
struct TSinks {
  std::optional<TStreamWriter> File;
  QString FilePath;
  enum class TOut { None, Table, Csv, Json } Out = TOut::Table;
  bool HeaderDue = false;

  TResult<void> Write(TCtlIo& io, const TStatusSample& s) {
    if (File) {
      if (TResult<void> w = File->Write((StatusCsvRow(s) + u'\n').toUtf8()); !w)
        return TFailure{FilePath + QStringLiteral(": ") + w.Failure().Message, w.Failure().Explanation};
    }
    if (Out == TOut::None) return {};
    if (HeaderDue) io.Out << (Out == TOut::Csv ? StatusCsvHeader() : TableHeader()) << "\n";
    HeaderDue = false;
    if (Out == TOut::Json) io.Out << QString::fromUtf8(StatusJsonLine(s)) << "\n";
    else io.Out << (Out == TOut::Csv ? StatusCsvRow(s) : TableRow(s)) << "\n";
    io.Out.flush();
    if (io.Out.status() == QTextStream::Ok) return {};
    if (OutputIsPipe()) return TFailure{kClosedPipe, {}};
    return TFailure{QStringLiteral("standard output: the samples could not be written"), {}};
  }
};

bool OpenSinks(TCtlIo& io, const TCommandArgs& args, TSinks& sinks) {
  const bool json = args.Has(kJsonOption.Name);
  const QString csv = args.Value(kCsvOption.Name);
  if (CsvToStandardOutput(args)) sinks.Out = TSinks::TOut::Csv;
  else if (json) sinks.Out = TSinks::TOut::Json;
  else if (!csv.isEmpty()) sinks.Out = TSinks::TOut::None;
  sinks.HeaderDue = sinks.Out == TSinks::TOut::Csv || sinks.Out == TSinks::TOut::Table;
  if (csv.isEmpty() || CsvToStandardOutput(args)) return true;
  const bool empty = !QFileInfo::exists(csv) || QFileInfo(csv).size() == 0;
  TResult<TStreamWriter> opened = TStreamWriter::Open(csv);
  if (!opened) {
    PrintFailure(io, csv, opened.Failure());
    return false;
  }
  sinks.File.emplace(std::move(*opened));
  sinks.FilePath = csv;
  if (!empty) return true;
  if (TResult<void> w = sinks.File->Write((StatusCsvHeader() + u'\n').toUtf8()); !w) {
    PrintFailure(io, csv, w.Failure());
    return false;
  }
  return true;
}

TWatchHooks WatchHooks(TCtlIo& io, const QString& port, TSinks& sinks) {
  TWatchHooks hooks;
  hooks.Sample = [&io, &sinks](const TStatusSample& s) { return sinks.Write(io, s); };
  hooks.SampleFailed = [&io, port](const TFailure& why, int inARow) {
    if (CanRedrawLine(io.Err)) io.Err << "\r\033[K";
    PrintError(io, port, QStringLiteral("%1 (%2 of %3 in a row)").arg(why.Message).arg(inARow).arg(kFailuresInARow));
  };
  hooks.Stop = [] { return TInterruptGuard::Interrupted(); };
  if (CanRedrawLine(io.Err))
    hooks.Progress = [&io](const TStreamSummary& s) {
      io.Err << "\r" << SummaryText(s) << "\033[K" << Qt::flush;
    };
  return hooks;
}

}  // namespace

int RunWatch(const TCommandArgs& args, TCtlIo& io) {
  const QString port = args.Value(kPortOption.Name);
  TWatchOptions options;
  options.EveryMs = args.WholeNumber("every", options.EveryMs);
  options.ForMs = args.DurationMs("for");
  TSinks sinks;
  if (!OpenSinks(io, args, sinks)) return kExitFailed;
  TInterruptGuard guard;
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const TWatchResult result = WatchStatus(session, options, WatchHooks(io, port, sinks));
  if (CanRedrawLine(io.Err)) io.Err << "\r\033[K";
  io.Err << port << ": " << SummaryText(result.Summary) << "\n" << Qt::flush;
  bool ok = result.End == TWatchEnd::Time || result.End == TWatchEnd::Stopped;
  if (result.End == TWatchEnd::Output && result.Failure->Message == kClosedPipe) {
    // The reader has what it wanted: the failed write is no failure of the command.
    io.Out.resetStatus();
    std::clearerr(stdout);
    ok = true;
  }
  else if (result.Failure) PrintFailure(io, port, *result.Failure);
  if (sinks.File)
    if (TResult<void> closed = sinks.File->Close(); !closed && ok) {
      PrintFailure(io, sinks.FilePath, closed.Failure());
      ok = false;
    }
  return ok ? kExitOk : kExitFailed;
}
