// zirv7ctl ports: the serial ports present.
#include "ctl/commands.h"

int RunPorts(const QStringList& args, TCtlIo& io) {
  QCommandLineParser parser;
  parser.addOption({QStringLiteral("json"), QStringLiteral("Print a JSON array.")});
  int exitCode = kExitOk;
  if (!ParseCommandLine(parser, QStringLiteral("ports"), QStringLiteral("[--json]"), args, io,
                        exitCode))
    return exitCode;
  io.Out << (parser.isSet(QStringLiteral("json")) ? "[]\n" : "");
  return kExitOk;
}
