#include "protocol/paramwrite.h"

#include "globals/numtext.h"
#include "parameters/paramtable.h"
#include "protocol/transactions.h"

bool WriteParameterRows(TLineChannel& channel, TPIDParams& board,
                        const std::function<std::optional<double>(const TParamRow&)>& valueToSend,
                        const std::function<void(const TParamWrite&)>& onWritten,
                        QString (*textOf)(double)) {
  for (const TParamRow& row : ParamTable()) {
    // Asked row by row, so that a value is taken at the moment its turn comes.
    const std::optional<double> value = valueToSend(row);
    if (!value) continue;
    double echoed = 0;
    const QString letter = QString(QLatin1Char(row.Letter));
    const QString text = textOf ? textOf(*value) : FormatNumber(*value);
    if (!SetBoardValueText(channel, letter, QLatin1String(row.Tag), text, echoed)) return false;
    StoreAnswer(board, row, echoed);
    if (onWritten) onWritten({&row, *value, echoed});
  }
  return true;
}
