// zirv7ctl diff A B: the values that differ between two parameter sets, side by side.
#include "ctl/boardcmd.h"
#include "ctl/commands.h"
#include "ctl/history.h"
#include "ctl/options.h"
#include "ctl/paramsets.h"
#include "parameters/paramtable.h"

namespace {

const QString kDiff = QStringLiteral("diff");

// diff's own exit status for trouble, as diff(1) has it: 0 and 1 say equal and different.
constexpr int kExitTrouble = 2;

constexpr QLatin1String kBoardPrefix("board:");

bool ReadRun(TCtlIo& io, const QString& text, TParamValues& values) {
  if (const QString problem = RunNumberProblem(text); !problem.isEmpty()) {
    PrintError(io, kDiff, problem);
    return false;
  }
  TRunStore store;
  std::vector<TStepRun> runs;
  if (!OpenRunHistory(io, store) || !LoadRuns(io, store, {*RecordNumber(text)}, runs)) return false;
  values = ParamValuesOf(runs.front().Params);
  return true;
}

bool ReadBoard(TCtlIo& io, const QString& port, TParamValues& values) {
  TBoardSession session;
  if (!OpenBoard(io, session, port)) return false;
  values = ParamValuesOf(session.Board());
  return true;
}

// Reads one side: a stored run "#12", "board:NAME", or a parameter file as the window's
// fields show it.
bool ReadSide(TCtlIo& io, const QString& text, TParamValues& values) {
  if (text.startsWith(u'#')) return ReadRun(io, text, values);
  if (text.startsWith(kBoardPrefix)) {
    const QString port = text.mid(kBoardPrefix.size());
    if (!port.isEmpty()) return ReadBoard(io, port, values);
    PrintError(io, kDiff, QStringLiteral("'board:' needs a port name, as board:COM1"));
    return false;
  }
  return ReadParameterFile(io, text, values);
}

}  // namespace

int RunDiff(const TCommandArgs& args, TCtlIo& io) {
  const QStringList sides = args.Positional();
  TParamValues a{}, b{};
  if (!ReadSide(io, sides[0], a) || !ReadSide(io, sides[1], b)) return kExitTrouble;
  const TPIDParams bRecord = ParamsOf(b);
  std::vector<QStringList> rows = {{"KEY", sides[0], sides[1]}};
  for (const TParamRow& row : ParamTable())
    if (ValueDiffers(row, a[RowIndex(row)], bRecord))
      rows.push_back({QLatin1String(row.FileKey), ValueText(a[RowIndex(row)]), ValueText(b[RowIndex(row)])});
  if (rows.size() == 1) return kExitOk;
  PrintTable(io, rows, 1);
  return kExitFailed;
}
