// The "Parameters" page: reading, marking and writing the board's parameters, and the
// parameter files. Every operation walks the parameter table in its row order.
#include <QFileDialog>

#include "globals/numtext.h"
#include "monitor/sampletimer.h"
#include "parameters/paramfile.h"
#include "parameters/paramtable.h"
#include "protocol/paramwrite.h"
#include "protocol/transactions.h"
#include "ui/mainwindow.h"
#include "ui/spinedit.h"

namespace {

// Remembers the sampling timer's enabled state, disables it, and restores the state when the
// operation ends, also when it ends with an error.
class TTimerPause {
 public:
  explicit TTimerPause(TSampleTimer& timer) : FTimer(timer), FWasEnabled(timer.Enabled()) {
    FTimer.SetEnabled(false);
  }
  ~TTimerPause() { FTimer.SetEnabled(FWasEnabled); }

 private:
  TSampleTimer& FTimer;
  bool FWasEnabled;
};

// Returns whether the field differs from the board's value, compared as the row's class says.
bool FieldDiffers(const TAdvSpinEdit& field, const TParamRow& row, const TPIDParams& board) {
  const bool floatCompare = row.Class == TRowClass::Float || row.Class == TRowClass::MaxOutput;
  return ValueDiffers(row, floatCompare ? field.FloatValue() : double(field.Value()), board);
}

// Returns the tooltip of a field that differs from the board: "Board: 0.2", the board's value
// in number text, or that the board has not been read when nothing is known of it yet.
QString BoardValueTip(const TParamRow& row, const TPIDParams& board, bool read) {
  if (!read) return QStringLiteral("Board: not read yet");
  return QStringLiteral("Board: ") + FormatNumber(RecordValue(board, row));
}

// Returns the field's value as the row sends it to the board.
double ValueToSend(const TAdvSpinEdit& field, const TParamRow& row) {
  return row.Class == TRowClass::Float ? field.FloatValue() : double(field.Value());
}

}  // namespace

void TfMain::btReadBoardParamsClick() {
  TTimerPause pause(*SampleTimer);
  // Fields the parse does not reach keep their previous values, so the marks stay meaningful.
  TPIDParams params = ActPIDParams;
  ReadParameters(Channel, params);
  ActPIDParams = params;
  FBoardParamsRead = FBoardParamsRead || ActPIDParams.Valid;
  if (ActPIDParams.Valid) {
    ShowParameters();
    MarkChangedParameters();
  } else {
    LogLine(QStringLiteral("Error reading params"), clRed);
  }
}

void TfMain::ShowParameters() {
  const auto& table = ParamTable();
  for (size_t i = 0; i < table.size(); ++i) {
    const TParamRow& row = table[i];
    const double value = RecordValue(ActPIDParams, row);
    if (row.Class == TRowClass::Float)
      ParameterFields[i]->SetFloatValue(value);
    else
      ParameterFields[i]->SetValue(RoundToInt32(value));
  }
}

void TfMain::MarkChangedParameters() {
  const auto& table = ParamTable();
  for (size_t i = 0; i < table.size(); ++i) {
    const bool differs = FieldDiffers(*ParameterFields[i], table[i], ActPIDParams);
    ParameterFields[i]->SetFontColor(differs ? clRed : clGreen);
    // A red field tells what the board holds (the colour alone does not reach a screen reader).
    const QString tip =
        differs ? BoardValueTip(table[i], ActPIDParams, FBoardParamsRead) : QString();
    ParameterFields[i]->setToolTip(tip);
    ParameterFields[i]->setAccessibleDescription(tip);
  }
}

void TfMain::btWriteBoardParamsClick() {
  TTimerPause pause(*SampleTimer);
  Channel.WaitUntilIdle();
  if (WriteChangedParameters()) {
    LogLine(QStringLiteral("OK writing params"), clRed);
    MarkChangedParameters();
  } else {
    LogLine(QStringLiteral("Error writing params"), clRed);
  }
}

bool TfMain::WriteChangedParameters() {
  const auto& table = ParamTable();
  // Only red fields are written, each with its value at the moment its turn comes.
  auto valueToSend = [&](const TParamRow& row) -> std::optional<double> {
    const TAdvSpinEdit& field = *ParameterFields[size_t(&row - table.data())];
    if (field.FontColor() != clRed) return std::nullopt;
    return ValueToSend(field, row);
  };
  return WriteParameterRows(Channel, ActPIDParams, valueToSend);
}

void TfMain::seParametersPChange() { MarkChangedParameters(); }

namespace {

// Runs the dialog; returns the chosen name, or an empty one when the user cancelled. The dialog
// keeps the name as chosen, with the extension it added to a name typed without one, and
// proposes that the next time.
QString ChooseFile(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  const QString fileName = dialog.selectedFiles().constFirst();
  dialog.selectFile(fileName);
  return fileName;
}

}  // namespace

void TfMain::Open1Click() {
  const QString fileName = ChooseFile(*OpenDialog1);
  if (fileName.isEmpty()) return;
  SaveDialog1->selectFile(fileName);
  // A name confirmed for creating in the dialog is only taken: loading the missing file gives
  // every field its default, and the next Save, which proposes the name, writes it.
  LoadParameterFile(fileName);
}

void TfMain::SaveParameters1Click() {
  const QString fileName = ChooseFile(*SaveDialog1);
  if (!fileName.isEmpty()) SaveParameterFile(fileName);
}

void TfMain::SaveParameterFile(const QString& fileName) {
  const auto& table = ParamTable();
  TParamFileValues values{};
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].FileFloat)
      values[i].Float = ParameterFields[i]->FloatValue();
    else
      values[i].Int = ParameterFields[i]->Value();
  }
  WriteParamFile(fileName, values);
}

void TfMain::LoadParameterFile(const QString& fileName) {
  const TParamFileValues values = ReadParamFile(fileName);
  const auto& table = ParamTable();
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].FileFloat)
      ParameterFields[i]->SetFloatValue(values[i].Float);
    else
      ParameterFields[i]->SetValue(values[i].Int);
  }
  MarkChangedParameters();
}
