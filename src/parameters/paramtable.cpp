#include "parameters/paramtable.h"

#include <cmath>

#include "globals/numtext.h"

namespace {

constexpr const char* kAll = "All Motor types";
constexpr const char* kBldc = "BLDC specific";

const std::array<TParamRow, kParamCount> kTable = {{
    {.Caption = "P:", .Group = kAll,
     .FieldName = "seParametersP", .Letter = 'p', .Tag = "(p)", .ListLine = 3,
     .DoubleField = &TPIDParams::P, .FileKey = "P", .FileFloat = true,
     .FloatMode = true, .Class = TRowClass::Float},
    {.Caption = "I:", .Group = kAll,
     .FieldName = "seParametersI", .Letter = 'i', .Tag = "(i)", .ListLine = 4,
     .DoubleField = &TPIDParams::I, .FileKey = "I", .FileFloat = true,
     .FloatMode = true, .Class = TRowClass::Float},
    {.Caption = "D:", .Group = kAll,
     .FieldName = "seParametersD", .Letter = 'd', .Tag = "(d)", .ListLine = 5,
     .DoubleField = &TPIDParams::D, .FileKey = "D", .FileFloat = true,
     .FloatMode = true, .Class = TRowClass::Float},
    // An integer-mode field that is read and written through its float value.
    {.Caption = "Deadband (b):", .Unit = "Pulses", .Group = kAll,
     .FieldName = "seParametersDeadband", .Letter = 'b', .Tag = "(b)", .ListLine = 8,
     .DoubleField = &TPIDParams::Deadband, .FileKey = "Deadband", .FileFloat = true,
     .Class = TRowClass::Float},
    {.Caption = "Max Output (m):", .Unit = "%", .Group = kAll,
     .FieldName = "seParametersMaxOutput", .Letter = 'm', .Tag = "(m)", .ListLine = 9,
     .DoubleField = &TPIDParams::MaxOutput, .FileKey = "MaxOutput", .FileFloat = false, .FileDefault = 95,
     .Precision = 2, .IncrementFloat = 0.1, .Class = TRowClass::MaxOutput},
    {.Caption = "FF0 (0):", .Group = kAll,
     .FieldName = "seParametersFF0", .Letter = '0', .Tag = "(0)", .ListLine = 6,
     .DoubleField = &TPIDParams::FF0, .FileKey = "FF0", .FileFloat = true,
     .FloatMode = true, .Class = TRowClass::Float},
    {.Caption = "FF1 (1):", .Group = kAll,
     .FieldName = "seParametersFF1", .Letter = '1', .Tag = "(1)", .ListLine = 7,
     .DoubleField = &TPIDParams::FF1, .FileKey = "FF1", .FileFloat = true,
     .FloatMode = true, .Class = TRowClass::Float},
    {.Caption = "Fault Error (f):", .Unit = "Pulses", .Group = kAll,
     .FieldName = "seParametersFaultError", .Letter = 'f', .Tag = "(f)", .ListLine = 10,
     .DoubleField = &TPIDParams::FaultError, .FileKey = "FaultError", .FileFloat = false, .FileDefault = 1000,
     .Class = TRowClass::FaultError},
    {.Caption = "Step multiplier (x):", .Group = kAll,
     .FieldName = "seParametersStepMultiplier", .Letter = 'x', .Tag = "(x)", .ListLine = 11,
     .IntField = &TPIDParams::Multiplier, .FileKey = "StepMultiplier", .FileFloat = false, .FileDefault = 1,
     .Class = TRowClass::Integer},
    {.Caption = "Ticks per servo cycle (t):", .Unit = "X 100us", .Group = kAll,
     .FieldName = "seParametersTPSC", .Letter = 't', .Tag = "(t)", .ListLine = 12,
     .IntField = &TPIDParams::TicksPerServo, .FileKey = "TPSC", .FileFloat = false, .FileDefault = 4,
     .Class = TRowClass::Integer},
    {.Caption = "BLDC Hall Timeout (h):", .Unit = "X 200us", .Group = kBldc,
     .FieldName = "seParametersHallTimeout", .Letter = 'h', .Tag = "(h)", .ListLine = 13,
     .IntField = &TPIDParams::HallTimeout, .FileKey = "HallTimeout", .FileFloat = false, .FileDefault = 50,
     .Class = TRowClass::Integer},
    {.Caption = "BLDC Charge Elcos (g):", .Group = kBldc,
     .FieldName = "seParametersChargeElcos", .Letter = 'g', .Tag = "(g)", .ListLine = 14,
     .IntField = &TPIDParams::DoChargeElcos, .FileKey = "ChargeElcos", .FileFloat = false, .FileDefault = 0,
     .MinValue = 0, .MaxValue = 1, .Class = TRowClass::Integer},
    {.Caption = "BLDC Phase advance (a):", .Unit = "360/1024\u00B0", .Group = kBldc,
     .FieldName = "seParametersPhaseAdvance", .Letter = 'a', .Tag = "(a)", .ListLine = 15,
     .IntField = &TPIDParams::PhaseAdvance, .FileKey = "PhaseAdvance", .FileFloat = false, .FileDefault = 0,
     .MinValue = 0, .MaxValue = 1023, .Class = TRowClass::Integer},
    {.Caption = "SVM Cycle time (c):", .Unit = "X 100us", .Group = kBldc,
     .FieldName = "seParametersSVMCycle", .Letter = 'c', .Tag = "(c)", .ListLine = 16,
     .IntField = &TPIDParams::SVMCycle, .FileKey = "SVMCycle", .FileFloat = false, .FileDefault = 3,
     .MinValue = 1, .MaxValue = 4, .InitialValue = 1, .Class = TRowClass::Integer},
}};

}  // namespace

const std::array<TParamRow, kParamCount>& ParamTable() { return kTable; }

size_t RowIndexOf(std::string_view fileKey) {
  for (const TParamRow& row : kTable)
    if (row.FileKey == fileKey) return RowIndex(row);
  return kParamCount;
}

double RecordValue(const TPIDParams& params, const TParamRow& row) {
  if (row.DoubleField) return params.*row.DoubleField;
  return double(params.*row.IntField);
}

void StoreAnswer(TPIDParams& params, const TParamRow& row, double answer) {
  if (row.DoubleField) {
    params.*row.DoubleField = answer;
    return;
  }
  params.*row.IntField = RoundToInt32(answer);
}

bool ValueDiffers(const TParamRow& row, double value, const TPIDParams& board) {
  const double held = RecordValue(board, row);
  switch (row.Class) {
    case TRowClass::Float:
    case TRowClass::MaxOutput:
      return value != held;
    case TRowClass::FaultError:
    case TRowClass::Integer:
      return RoundToInt32(value) != RoundToInt32(held);
  }
  return false;
}

double FieldShownValue(const TParamRow& row, double value) {
  const bool throughFloat = row.FloatMode || (row.Class == TRowClass::Float && row.Precision > 0);
  if (!throughFloat) return double(RoundToInt32(value));
  if (!std::isfinite(value) || std::fabs(value) >= 1e15) return value;
  return ReadNumber(FieldFixedText(value, row.Precision));
}

std::optional<TBoardRange> BoardRange(const TParamRow& row) {
  constexpr double kNoEnd = std::numeric_limits<double>::infinity();
  switch (row.Letter) {
    case 'm': return TBoardRange{0, 100};
    case 'b':
    case 'f': return TBoardRange{0, kNoEnd};
    default: break;
  }
  if (row.MinValue == 0 && row.MaxValue == 0) return std::nullopt;
  return TBoardRange{double(row.MinValue), double(row.MaxValue)};
}

bool LimitedByBoard(const TParamRow& row, double sent, double held) {
  const std::optional<TBoardRange> range = BoardRange(row);
  if (!range) return false;
  TPIDParams board;
  StoreAnswer(board, row, held);
  if (sent > range->Max) return !ValueDiffers(row, range->Max, board);
  if (sent < range->Min) return !ValueDiffers(row, range->Min, board);
  return false;
}
