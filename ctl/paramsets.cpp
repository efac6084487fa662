#include "ctl/paramsets.h"

#include "globals/numtext.h"
#include "outputfile/outputfile.h"
#include "parameters/paramtable.h"

TParamValues ShownValues(const TParamValues& values) {
  TParamValues shown{};
  for (const TParamRow& row : ParamTable()) shown[RowIndex(row)] = FieldShownValue(row, values[RowIndex(row)]);
  return shown;
}

bool ReadParameterFile(TCtlIo& io, const QString& file, TParamValues& values) {
  const TResult<TParamFileValues> read = ReadParamFileStrictly(file);
  if (!read) {
    PrintFailure(io, read.Failure());
    return false;
  }
  values = ShownValues(ParamValuesFromFile(*read));
  return true;
}

TResult<void> SaveParameterFile(const QString& file, const TParamValues& values) {
  const TParamFileValues fileValues = FileValuesOf(values);
  return UpdateOutputFile(file, [&](const QByteArray& old) -> TResult<QByteArray> {
    return ParamFileContent(file, old, fileValues);
  });
}

TParamFileValues FileValuesOf(const TParamValues& values) {
  TParamFileValues file = DefaultParamFileValues();
  for (const TParamRow& row : ParamTable()) {
    const double value = values[RowIndex(row)];
    TParamFileValue& v = file[RowIndex(row)];
    if (row.FileFloat)
      v.Float = value;
    else
      v.Int = RoundToInt32(value);
  }
  return file;
}

TPIDParams ParamsOf(const TParamValues& values) {
  TPIDParams record;
  for (const TParamRow& row : ParamTable()) StoreAnswer(record, row, values[RowIndex(row)]);
  record.Valid = true;
  return record;
}

QString ValueText(double value) { return FormatNumber(value); }
