#include "ctl/command.h"

#include <QFile>
#include <QRegularExpression>
#include <iterator>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "boardsession/interrupt.h"
#include "ctl/commands.h"
#include "ctl/outputoptions.h"
#include "globals/result.h"
#include "version.h"

namespace {

QString ProgramHelp() {
  QString text = QStringLiteral(
      "usage: zirv7ctl <command> [options]\n"
      "       zirv7ctl --help | --version\n\n"
      "The command-line companion of the ZIRV7 tuning tool.\n\n"
      "Commands:\n");
  for (const TCommand& command : kCommands)
    text += QStringLiteral("  %1%2\n")
                .arg(QString::fromLatin1(command.Name), -10)
                .arg(QString::fromUtf8(command.Summary));
  text += QStringLiteral("\nRun 'zirv7ctl <command> --help' for a command's options.\n");
  return text;
}

// Returns the usage line's arguments: the required ones as given, then "[--name VALUE]" for
// every option of the parser that they do not name, in the order the options were added.
// Qt keeps the options to itself; its help text lists them, one per line, in that order.
QString Synopsis(const QCommandLineParser& parser, const QString& required) {
  static const QRegularExpression optionLine(QStringLiteral("^\\s+(?:-\\w+, )?--([\\w-]+)(?: <([^>]+)>)?"));
  QStringList parts;
  if (!required.isEmpty()) parts.append(required);
  const QStringList words = required.split(QRegularExpression(QStringLiteral("[\\s\\[\\]]+")));
  for (const QString& line : parser.helpText().split(u'\n')) {
    const QRegularExpressionMatch match = optionLine.match(line);
    if (!match.hasMatch()) continue;
    const QString name = match.captured(1);
    if (name == QLatin1String("help") || words.contains(QStringLiteral("--") + name)) continue;
    const QString value = match.captured(2);
    parts.append(QStringLiteral("[--%1%2]").arg(name, value.isEmpty() ? QString() : u' ' + value));
  }
  return parts.join(u' ');
}

const TCommand* FindCommand(const QString& name) {
  for (const TCommand& command : kCommands)
    if (name == QLatin1String(command.Name)) return &command;
  return nullptr;
}

}  // namespace

bool TakesNoArguments(const QCommandLineParser& parser, const QString& name, TCtlIo& io) {
  if (parser.positionalArguments().isEmpty()) return true;
  PrintError(io, name, QStringLiteral("takes no arguments"));
  return false;
}

int RunCtl(const QStringList& args, TCtlIo& io) {
  const QString first = args.value(1);
  if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
    io.Out << ProgramHelp();
    return kExitOk;
  }
  if (first == QLatin1String("--version")) {
    io.Out << "zirv7ctl " << ZIRV_VERSION << "\n";
    return kExitOk;
  }
  if (first.isEmpty()) {
    io.Err << ProgramHelp();
    return kExitUsage;
  }
  const TCommand* command = FindCommand(first);
  if (!command) {
    PrintError(io, {}, QStringLiteral("'%1' is not a command; see 'zirv7ctl --help'").arg(first));
    return kExitUsage;
  }
  return command->Run(args.mid(2), io);
}

bool ParseCommandLine(QCommandLineParser& parser, const QString& name, const QString& required,
                      const QStringList& args, TCtlIo& io, int& exitCode) {
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Show this help and exit."));
  parser.addOption(help);
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  // QCommandLineParser expects the program name first.
  if (!parser.parse(QStringList{QStringLiteral("zirv7ctl")} + args)) {
    PrintError(io, name, parser.errorText());
    exitCode = kExitUsage;
    return false;
  }
  if (parser.isSet(help)) {
    QString text = parser.helpText();
    // Qt's first line names the program only; the subcommand and its synopsis go in its place.
    const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
    text.replace(0, firstLineEnd, QStringLiteral("Usage: zirv7ctl %1 %2").arg(name, Synopsis(parser, required)));
    io.Out << text;
    exitCode = kExitOk;
    return false;
  }
  // Output paths are checked before the command touches the board: a missing folder must
  // not cost EEPROM writes and a test.
  exitCode = CheckOutputOptions(parser, io);
  return exitCode == kExitOk;
}

void PrintError(TCtlIo& io, const QString& what, const QString& message) {
  io.Err << "zirv7ctl: ";
  if (!what.isEmpty()) io.Err << what << ": ";
  io.Err << message << "\n";
  io.Err.flush();
}

void PrintFailure(TCtlIo& io, const TFailure& failure) { PrintFailure(io, {}, failure); }

void PrintFailure(TCtlIo& io, const QString& what, const TFailure& failure) {
  PrintError(io, what, failure.Message);
  // The explanation stands as it is: it already ends its own lines but the last.
  if (!failure.Explanation.isEmpty()) io.Err << failure.Explanation << "\n" << Qt::flush;
}

namespace {

// Waits until the input has an answer to read; returns false when Ctrl+C (or another signal
// the interrupt guard catches) came first. Input that is no file descriptor is always ready.
bool WaitForAnswer(QTextStream& in) {
  const auto* file = qobject_cast<QFile*>(in.device());
  if (!file || file->handle() < 0) return !TInterruptGuard::Interrupted();
  pollfd input{file->handle(), POLLIN, 0};
  // The guard's handler restarts the read, so the wait must look for the flag itself.
  while (!TInterruptGuard::Interrupted()) {
    const int ready = ::poll(&input, 1, 50);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
  }
  return false;
}

}  // namespace

bool Confirm(TCtlIo& io, const QString& question) {
  // Everything the question is about is on the screen before it: results printed so far too.
  io.Out.flush();
  io.Err << question << " [y/N] ";
  io.Err.flush();
  if (!WaitForAnswer(io.In)) {
    io.Err << "\n";
    PrintError(io, {}, QStringLiteral("interrupted at the question"));
    return false;
  }
  const QString answer = io.In.readLine().trimmed().toLower();
  // A terminal echoes the answer and its line end; an answer from a pipe or file leaves the
  // question's line open.
  if (!IsTerminal(io.In)) io.Err << "\n" << Qt::flush;
  return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

namespace {

// Whether what is written to the stream can no longer reach anyone.
bool StreamClosed(QTextStream& stream) {
  stream.flush();
  if (stream.status() == QTextStream::WriteFailed) return true;
  const auto* file = qobject_cast<QFile*>(stream.device());
  if (!file || file->handle() < 0) return false;
  const int fd = file->handle();
  // Writing nothing fails only on a descriptor that cannot be written: a stream closed before
  // the program began, for which main opened /dev/null to be read only.
  if (::write(fd, "", 0) < 0 && errno == EBADF) return true;
  // A pipe whose reader has gone reports an error condition before anything is written to it.
  pollfd out{fd, POLLOUT, 0};
  return ::poll(&out, 1, 0) > 0 && (out.revents & (POLLERR | POLLNVAL)) != 0;
}

}  // namespace

QString ClosedOutput(TCtlIo& io) {
  if (StreamClosed(io.Out)) return QStringLiteral("standard output");
  if (StreamClosed(io.Err)) return QStringLiteral("standard error");
  return QString();
}

bool IsTerminal(QTextStream& stream) {
  const auto* file = qobject_cast<QFile*>(stream.device());
  return file && ::isatty(file->handle());
}

bool CanRedrawLine(QTextStream& stream) {
  const QByteArray term = qgetenv("TERM");
  return IsTerminal(stream) && !term.isEmpty() && term != "dumb";
}

void PrintTable(TCtlIo& io, const std::vector<QStringList>& rows, int leftColumns) {
  std::vector<qsizetype> widths;
  for (const QStringList& row : rows)
    for (qsizetype c = 0; c < row.size(); ++c) {
      if (size_t(c) >= widths.size()) widths.push_back(0);
      widths[size_t(c)] = std::max(widths[size_t(c)], row[c].size());
    }
  for (const QStringList& row : rows) {
    QStringList cells;
    for (qsizetype c = 0; c < row.size(); ++c) {
      const int w = int(widths[size_t(c)]);
      cells.append(c < leftColumns ? row[c].leftJustified(w) : row[c].rightJustified(w));
    }
    QString line = cells.join(QStringLiteral("  "));
    // Trailing blanks only: a blank first cell keeps the columns in place.
    while (line.endsWith(QLatin1Char(' '))) line.chop(1);
    io.Out << line << "\n";
  }
}
