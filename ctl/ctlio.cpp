#include "ctl/ctlio.h"

#include <QFile>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "boardsession/interrupt.h"
#include "globals/result.h"

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
