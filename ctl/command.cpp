#include "ctl/command.h"

#include "ctl/commands.h"
#include "ctl/outputoptions.h"
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

const TCommand* FindCommand(const QString& name) {
  for (const TCommand& command : kCommands)
    if (name == QLatin1String(command.Name)) return &command;
  return nullptr;
}

int RunCommand(const TCommand& command, const QStringList& args, TCtlIo& io) {
  const TResult<TCommandArgs> parsed = ParseCommandArgs(command, args);
  if (!parsed) {
    PrintFailure(io, parsed.Failure());
    return kExitUsage;
  }
  if (parsed->HelpAsked()) {
    io.Out << HelpText(command);
    return kExitOk;
  }
  // Output paths are checked before the command touches the board: a missing folder must
  // not cost EEPROM writes and a test.
  const int outputs = CheckOutputOptions(*parsed, io);
  return outputs == kExitOk ? command.Run(*parsed, io) : outputs;
}

}  // namespace

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
  return RunCommand(*command, args.mid(2), io);
}
