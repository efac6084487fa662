#include "ctl/outputoptions.h"

#include "ctl/options.h"
#include "outputfile/outputfile.h"

namespace {

struct TOutputOption {
  const TOption& Option;
  bool TakesStandardOutput;
};

// Pictures are binary and standard output carries the tables, so only CSV goes there.
constexpr TOutputOption kOutputOptions[] = {{kPngOption, false}, {kSvgOption, false}, {kCsvOption, true}};

}  // namespace

bool CheckOutputPath(const QString& path, TCtlIo& io) {
  const QString problem = OutputPathProblem(path);
  if (problem.isEmpty()) return true;
  PrintError(io, path, problem);
  return false;
}

bool CsvToStandardOutput(const TCommandArgs& args) {
  return args.Has(kCsvOption.Name) && args.Value(kCsvOption.Name) == QLatin1String(kStandardOutput);
}

TCtlIo FiguresIo(const TCtlIo& io, const TCommandArgs& args) {
  if (!CsvToStandardOutput(args)) return io;
  return TCtlIo{io.Err, io.Err, io.In};
}

int CheckOutputOptions(const TCommandArgs& args, TCtlIo& io) {
  // Two outputs on one stream make neither readable: a JSON document followed by CSV lines
  // is what `| jq` cannot parse.
  if (CsvToStandardOutput(args) && args.Has(kJsonOption.Name)) {
    PrintError(io, QStringLiteral("--csv -"),
               QStringLiteral("--json and the CSV both want standard output; write the CSV to a file"));
    return kExitUsage;
  }
  for (const TOutputOption& option : kOutputOptions) {
    const char* name = option.Option.Name;
    if (!args.Has(name)) continue;
    const QString path = args.Value(name);
    if (path == QLatin1String(kStandardOutput)) {
      if (option.TakesStandardOutput) continue;
      PrintError(io, QStringLiteral("--") + QLatin1String(name),
                 QStringLiteral("'-' (standard output) is taken by --csv only; give a file name"));
      return kExitUsage;
    }
    if (!CheckOutputPath(path, io)) return kExitFailed;
  }
  return kExitOk;
}
