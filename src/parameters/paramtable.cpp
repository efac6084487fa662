#include "parameters/paramtable.h"

#include <cmath>

#include "globals/numtext.h"

namespace {

constexpr const char* kAll = "All Motor types";
constexpr const char* kBldc = "BLDC specific";
// The double nearest to 10^-5: the float arrow step of every parameter field.
constexpr double kStep5 = 0.00001;

// A float-mode field: 7 decimals, arrow step 10^-5, page step 1, no limits.
constexpr TParamRow FloatRow(const char* caption, const char* unit, const char* field,
                             char letter, const char* tag, int line,
                             double TPIDParams::*member, const char* key) {
  return {caption, unit, kAll,  field, letter, tag,   line, member, nullptr, key,
          true,    0,    true,  7,     1,      10,    kStep5, 1.0,  0,       0,
          0,       TRowClass::Float};
}

// An integer-mode field with an integer record field.
constexpr TParamRow IntRow(const char* caption, const char* unit, const char* group,
                           const char* field, char letter, const char* tag, int line,
                           int32_t TPIDParams::*member, const char* key, double fileDefault,
                           int minValue, int maxValue, int initial) {
  return {caption, unit,        group, field, letter, tag,    line,     nullptr,
          member,  key,         false, fileDefault,   false,  7,        1,
          10,      kStep5,      1.0,   minValue,      maxValue, initial,
          TRowClass::Integer};
}

const std::array<TParamRow, kParamCount> kTable = {{
    FloatRow("P:", "", "seParametersP", 'p', "(p)", 3, &TPIDParams::P, "P"),
    FloatRow("I:", "", "seParametersI", 'i', "(i)", 4, &TPIDParams::I, "I"),
    FloatRow("D:", "", "seParametersD", 'd', "(d)", 5, &TPIDParams::D, "D"),
    // An integer-mode field that is read and written through its float value.
    {"Deadband (b):", "Pulses", kAll, "seParametersDeadband", 'b', "(b)", 8,
     &TPIDParams::Deadband, nullptr, "Deadband", true, 0, false, 7, 1, 10, kStep5, 1.0, 0, 0,
     0, TRowClass::Float},
    {"Max Output (m):", "%", kAll, "seParametersMaxOutput", 'm', "(m)", 9,
     &TPIDParams::MaxOutput, nullptr, "MaxOutput", false, 95, false, 2, 1, 10, 0.1, 1.0, 0, 0,
     0, TRowClass::MaxOutput},
    FloatRow("FF0 (0):", "", "seParametersFF0", '0', "(0)", 6, &TPIDParams::FF0, "FF0"),
    FloatRow("FF1 (1):", "", "seParametersFF1", '1', "(1)", 7, &TPIDParams::FF1, "FF1"),
    {"Fault Error (f):", "Pulses", kAll, "seParametersFaultError", 'f', "(f)", 10,
     &TPIDParams::FaultError, nullptr, "FaultError", false, 1000, false, 7, 1, 10, kStep5, 1.0,
     0, 0, 0, TRowClass::FaultError},
    IntRow("Step multiplier (x):", "", kAll, "seParametersStepMultiplier", 'x', "(x)", 11,
           &TPIDParams::Multiplier, "StepMultiplier", 1, 0, 0, 0),
    IntRow("Ticks per servo cycle (t):", "X 100us", kAll, "seParametersTPSC", 't', "(t)", 12,
           &TPIDParams::TicksPerServo, "TPSC", 4, 0, 0, 0),
    IntRow("BLDC Hall Timeout (h):", "X 200us", kBldc, "seParametersHallTimeout", 'h', "(h)",
           13, &TPIDParams::HallTimeout, "HallTimeout", 50, 0, 0, 0),
    IntRow("BLDC Charge Elcos (g):", "", kBldc, "seParametersChargeElcos", 'g', "(g)", 14,
           &TPIDParams::DoChargeElcos, "ChargeElcos", 0, 0, 1, 0),
    IntRow("BLDC Phase advance (a):", "360/1024\u00B0", kBldc, "seParametersPhaseAdvance", 'a',
           "(a)", 15, &TPIDParams::PhaseAdvance, "PhaseAdvance", 0, 0, 1023, 0),
    IntRow("SVM Cycle time (c):", "X 100us", kBldc, "seParametersSVMCycle", 'c', "(c)", 16,
           &TPIDParams::SVMCycle, "SVMCycle", 3, 1, 4, 1),
}};

}  // namespace

const std::array<TParamRow, kParamCount>& ParamTable() { return kTable; }

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
