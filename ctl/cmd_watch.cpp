// zirv7ctl watch: the board's status as a stream, to a terminal, a CSV file or JSON Lines.
#include <QFileInfo>
#include <cstdio>
#include <QRegularExpression>
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

const QString kName = QStringLiteral("watch");

void AddOptions(QCommandLineParser& parser) {
  parser.setApplicationDescription(QStringLiteral(
      "Streams the board's status (\"s\"): its nine values, each sample stamped with the seconds\n"
      "since the start and the wall-clock time (ISO 8601). Runs until --for is up, Ctrl+C, or a\n"
      "pipe that closes (| head), then prints a summary on standard error: samples, rate, and\n"
      "the minimum, mean and maximum of error and output. A sample that fails is counted and\n"
      "told; five in a row end the stream (exit status 1). A CSV file is appended to in place,\n"
      "one sample a line, so that `tail -f` follows it; a write that fails (a full disk) keeps\n"
      "what was written and ends with exit status 1. The board's values are never written.\n\n"
      "Example: zirv7ctl watch --port COM2 --every 0 --for 10s --csv status.csv"));
  AddPortOption(parser);
  parser.addOption({QStringLiteral("every"),
                    QStringLiteral("Milliseconds from one sample's start to the next (default 1000); 0: as "
                                   "fast as the serial line allows."),
                    QStringLiteral("MS")});
  parser.addOption({QStringLiteral("for"),
                    QStringLiteral("Stop after this long: seconds, or a number with ms, s, m or h (30s, 5m)."),
                    QStringLiteral("DURATION")});
  parser.addOption({QStringLiteral("csv"),
                    QStringLiteral("Append the samples as CSV to FILE (a header first when it is empty); - "
                                   "for standard output."),
                    QStringLiteral("FILE")});
  parser.addOption({QStringLiteral("json"), QStringLiteral("Print JSON Lines: one object a sample.")});
}

// Reads a duration ("90", "90s", "1500ms", "5m", "2h") into milliseconds.
bool ReadDuration(const QString& text, int& ms) {
  static const QRegularExpression form(QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]+)?)\\s*(ms|s|m|h)?\\s*$"));
  const QRegularExpressionMatch m = form.match(text);
  if (!m.hasMatch()) return false;
  const QString unit = m.captured(2);
  const double scale = unit == "ms" ? 1 : unit == "m" ? 60000 : unit == "h" ? 3600000 : 1000;
  const double value = m.captured(1).toDouble() * scale;
  if (!(value > 0) || value > 1e9) return false;
  ms = int(std::ceil(value));
  return true;
}

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

bool OpenSinks(TCtlIo& io, const QCommandLineParser& parser, TSinks& sinks) {
  const bool json = parser.isSet(QStringLiteral("json"));
  const QString csv = parser.value(QStringLiteral("csv"));
  if (CsvToStandardOutput(parser)) sinks.Out = TSinks::TOut::Csv;
  else if (json) sinks.Out = TSinks::TOut::Json;
  else if (!csv.isEmpty()) sinks.Out = TSinks::TOut::None;
  sinks.HeaderDue = sinks.Out == TSinks::TOut::Csv || sinks.Out == TSinks::TOut::Table;
  if (csv.isEmpty() || CsvToStandardOutput(parser)) return true;
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

TWatchHooks Hooks(TCtlIo& io, const QString& port, TSinks& sinks) {
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

int RunWatch(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  AddOptions(parser);
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, kName, QStringLiteral("--port NAME"), args, io, exitCode)) return exitCode;
  const QString port = parser.value(QStringLiteral("port"));
  if (port.isEmpty()) {
    PrintError(io, kName, QStringLiteral("--port is required"));
    return kExitUsage;
  }
  if (!TakesNoArguments(parser, kName, io)) return kExitUsage;
  TWatchOptions options;
  if (!IntOption(io, parser, kName, QStringLiteral("every"), 0, 3600000, options.EveryMs)) return kExitUsage;
  if (parser.isSet(QStringLiteral("for"))) {
    int ms = 0;
    if (!ReadDuration(parser.value(QStringLiteral("for")), ms)) {
      PrintError(io, kName, QStringLiteral("--for takes a duration: seconds, or a number with ms, s, m or h"));
      return kExitUsage;
    }
    options.ForMs = ms;
  }
  TSinks sinks;
  if (!OpenSinks(io, parser, sinks)) return kExitFailed;
  TInterruptGuard guard;
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const TWatchResult result = WatchStatus(session, options, Hooks(io, port, sinks));
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
