#include "protocol/paramwrite.h"

#include "parameters/paramtable.h"
#include "protocol/transactions.h"

bool WriteParameterRows(TLineChannel& channel, TPIDParams& board,
                        const std::function<std::optional<double>(const TParamRow&)>& valueToSend,
                        const std::function<void(const TParamWrite&)>& onWritten) {
  for (const TParamRow& row : ParamTable()) {
    // Asked row by row, so that a value is taken at the moment its turn comes.
    const std::optional<double> value = valueToSend(row);
    if (!value) continue;
    double echoed = 0;
    const QString letter = QString(QLatin1Char(row.Letter));
    if (!SetBoardValue(channel, letter, QLatin1String(row.Tag), *value, echoed)) return false;
    StoreAnswer(board, row, echoed);
    if (onWritten) onWritten({&row, *value, echoed});
  }
  return true;
}
