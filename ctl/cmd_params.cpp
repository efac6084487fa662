// zirv7ctl params: the board's fourteen values, by the window's captions and the file keys.

#include "ctl/boardcmd.h"
#include "ctl/commands.h"
#include "ctl/options.h"
#include "ctl/paramsets.h"
#include "globals/jsontext.h"
#include "parameters/paramtable.h"
#include "steprun/steprun.h"

namespace {

void PrintParams(TCtlIo& io, const TPIDParams& board) {
  std::vector<QStringList> rows = {{"CAPTION", "KEY", "VALUE", "UNIT"}};
  for (const TParamRow& row : ParamTable())
    rows.push_back({QString::fromUtf8(row.Caption), QLatin1String(row.FileKey),
                    ValueText(RecordValue(board, row)), QString::fromUtf8(row.Unit)});
  PrintTable(io, rows, 2);
}

}  // namespace

int RunParams(const TCommandArgs& args, TCtlIo& io) {
  const QString port = args.Value("port");
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return kExitFailed;
  if (args.Has("json"))
    io.Out << JsonText(ParamsJson(session.Board()));
  else
    PrintParams(io, session.Board());
  return kExitOk;
}
