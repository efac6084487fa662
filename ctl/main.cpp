// zirv7ctl: the command-line companion of the ZIRV7 tuning tool.
#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

#include "ctl/command.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("zirv7ctl"));
  QTextStream out(stdout);
  QTextStream err(stderr);
  QTextStream in(stdin);
  TCtlIo io{out, err, in};
  const int status = RunCtl(QCoreApplication::arguments(), io);
  out.flush();
  err.flush();
  return status;
}
