#include "ctl/outputoptions.h"

#include "outputfile/outputfile.h"

namespace {

struct TOutputOption {
  const char* Name;
  bool TakesStandardOutput;
};

// Pictures are binary and standard output carries the tables, so only CSV goes there.
constexpr TOutputOption kOutputOptions[] = {{"png", false}, {"svg", false}, {"csv", true}};

}  // namespace

bool CheckOutputPath(const QString& path, TCtlIo& io) {
  const QString problem = OutputPathProblem(path);
  if (problem.isEmpty()) return true;
  PrintError(io, path, problem);
  return false;
}

bool CsvToStandardOutput(const QCommandLineParser& parser) {
  // optionNames() holds the options given; isSet() would warn of an option a command lacks.
  const QString csv = QStringLiteral("csv");
  return parser.optionNames().contains(csv) && parser.value(csv) == QLatin1String(kStandardOutput);
}

TCtlIo FiguresIo(const TCtlIo& io, const QCommandLineParser& parser) {
  if (!CsvToStandardOutput(parser)) return io;
  return TCtlIo{io.Err, io.Err, io.In};
}

int CheckOutputOptions(const QCommandLineParser& parser, TCtlIo& io) {
  const QStringList given = parser.optionNames();
  // Two outputs on one stream make neither readable: a JSON document followed by CSV lines
  // is what `| jq` cannot parse.
  if (CsvToStandardOutput(parser) && given.contains(QStringLiteral("json"))) {
    PrintError(io, QStringLiteral("--csv -"),
               QStringLiteral("--json and the CSV both want standard output; write the CSV to a file"));
    return kExitUsage;
  }
  for (const TOutputOption& option : kOutputOptions) {
    const QString name = QLatin1String(option.Name);
    if (!given.contains(name)) continue;
    const QString path = parser.value(name);
    if (path == QLatin1String(kStandardOutput)) {
      if (option.TakesStandardOutput) continue;
      PrintError(io, QStringLiteral("--") + name,
                 QStringLiteral("'-' (standard output) is taken by --csv only; give a file name"));
      return kExitUsage;
    }
    if (!CheckOutputPath(path, io)) return kExitFailed;
  }
  return kExitOk;
}
