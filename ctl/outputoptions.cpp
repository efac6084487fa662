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

bool CheckOutputOptions(const QCommandLineParser& parser, TCtlIo& io) {
  // optionNames() holds the options given; isSet() would warn of an option a command lacks.
  const QStringList given = parser.optionNames();
  for (const TOutputOption& option : kOutputOptions) {
    const QString name = QLatin1String(option.Name);
    if (!given.contains(name)) continue;
    const QString path = parser.value(name);
    if (path == QLatin1String(kStandardOutput)) {
      if (option.TakesStandardOutput) continue;
      PrintError(io, QStringLiteral("--") + name,
                 QStringLiteral("'-' (standard output) is taken by --csv only; give a file name"));
      return false;
    }
    if (!CheckOutputPath(path, io)) return false;
  }
  return true;
}
