// zirv7ctl: the command-line companion of the ZIRV7 tuning tool.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>

#include "ctl/command.h"
#include "ctl/argscan.h"

namespace {

// Pictures need fonts, which only a QGuiApplication offers; it runs on the offscreen platform,
// so that zirv7ctl never needs a display. Everything else gets by with the core.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv) {
  if (!ArgumentsWantPicture(argc, argv)) return std::make_unique<QCoreApplication>(argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  return std::make_unique<QGuiApplication>(argc, argv);
}

// A standard stream closed before the program began ("zirv7ctl ... >&-") would lend its number
// to the first file opened, the port or the history, and output meant for it would land there.
// /dev/null stands in, opened for reading only, so that writing to it fails as writing to a
// closed stream does, and the commands see their output fail.
void StandInForClosedStreams() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", O_RDONLY);
}

}  // namespace

int main(int argc, char* argv[]) {
  StandInForClosedStreams();
  // A closed pipe or pager must not end the program while the board holds values it has to
  // get back: a write to it fails with EPIPE instead, and the output counts as failed.
  std::signal(SIGPIPE, SIG_IGN);
  // Likewise a file-size limit (ulimit -f): a write beyond it fails with EFBIG, the output file
  // keeps its old content and the board gets its values back, where the signal would end the
  // program part-way.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::unique_ptr<QCoreApplication> app = MakeApplication(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("zirv7ctl"));
  QTextStream out(stdout);
  QTextStream err(stderr);
  QTextStream in(stdin);
  TCtlIo io{out, err, in};
  int status = RunCtl(QCoreApplication::arguments(), io);
  out.flush();
  std::fflush(stdout);
  if (status == kExitOk && (out.status() != QTextStream::Ok || std::ferror(stdout))) {
    err << "zirv7ctl: standard output: the results could not be written\n";
    status = kExitFailed;
  }
  err.flush();
  return status;
}
