// zirv7ctl save: the board's values into a parameter file, as the window's Save writes it.
#include "ctl/boardcmd.h"
#include "ctl/commands.h"
#include "ctl/options.h"
#include "ctl/outputoptions.h"
#include "ctl/paramsets.h"
#include "outputfile/outputfile.h"

int RunSave(const TCommandArgs& args, TCtlIo& io) {
  const QString port = args.Value("port");
  const QString file = args.Positional().at(0);
  // '-' stands for standard output elsewhere; a file of that name would only be a trap.
  if (file == QLatin1String(kStandardOutput)) {
    PrintError(io, args.Name(), QStringLiteral("'-' is no file name here: give the parameter file's name "
                                         "('zirv7ctl params' prints the values)"));
    return kExitUsage;
  }
  // Checked before the board is asked, so that a wrong path costs nothing.
  if (!CheckOutputPath(file, io)) return kExitFailed;
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  const TResult<void> saved = SaveParameterFile(file, ShownValues(ParamValuesOf(session.Board())));
  if (!saved) {
    PrintFailure(io, saved.Failure());
    return kExitFailed;
  }
  io.Err << port << ": the board's values are in " << file << "\n" << Qt::flush;
  return kExitOk;
}
