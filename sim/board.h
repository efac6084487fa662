#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/plant.h"

namespace zirvsim {

// The board's stored parameters (its EEPROM contents) and its "servo enabled" state, in the
// field order of the tool's parameter record.
struct TBoardParams {
  int32_t Enabled = 1;
  double P = 0.2;
  double I = 0.0005;
  double D = 0.0015;
  double Deadband = 0;
  double MaxOutput = 95;
  double FeedForward0 = 0;  // not "FF0": <termios.h> defines FF0 and FF1 as macros
  double FeedForward1 = 0;
  double FaultError = 1000;
  int32_t Multiplier = 1;
  int32_t TicksPerServo = 4;
  int32_t HallTimeout = 50;
  int32_t DoChargeElcos = 0;
  int32_t PhaseAdvance = 0;
  int32_t SVMCycle = 3;

  bool operator==(const TBoardParams&) const = default;
};

// Returns the parameters as the board would store them: output limit 0..100 %, deadband and
// fault error not negative, step multiplier 1..1000, ticks per servo cycle 1..100, hall
// timeout 0..65535, charge 0..1, phase advance 0..1023, SVM cycle 1..4.
TBoardParams ClampParams(TBoardParams params);

// Returns whether the letter is the set letter of a stored parameter, one of the letters of the
// "l" answer's tags ("p" ... "c"); "o" is no parameter.
bool IsParamLetter(char letter);

// Values to force into the next "s" answer, one optional value per status line.
struct TStatusOverride {
  std::optional<double> Command, Feedback, Error, ErrorI, ErrorD, Output, LimitState, Enabled, TestOsc;
};

// Clock rate of the board's test oscillator: "o <n>" moves the command by 29,400,000 / n
// counts per second.
constexpr double kOscillatorClock = 29400000.0;

// Servo cycles the step test samples: one header of 4 lines, 199 error/output pairs, 2 trailer lines.
constexpr int kStepSamples = 199;

// The board's firmware without the wire: parameters, the servo loop running the motor, the
// test oscillator, and the answer to each command line. Not thread-safe; the simulator
// serialises access.
//
// Answers, one string per line:
//   "s"               nine lines "command: ", "feedback: ", "error: ", "error_i: ", "error_d: ",
//                     "output: ", "limit_state: ", "servo enabled: ", "test_osc: " + number
//   "l"               "ZIRV7 servo parameters", "eeprom version: 1", "servo enabled: 0|1", then
//                     "(p) ", "(i) ", "(d) ", "(0) ", "(1) ", "(b) ", "(m) ", "(f) ", "(x) ",
//                     "(t) ", "(h) ", "(g) ", "(a) ", "(c) " + stored value
//   "<letter> <n>"    stores n (clamped, integers rounded) and answers "(<letter>) <stored>";
//                     the letter alone answers the stored value without changing it
//   "r<p>c<s>ok1"     "step response", "prediv: <p>", "step: <s>", "samples: 199", then 199
//                     pairs "error: " / "output: " every p + 1 servo cycles after moving the
//                     command by s x step multiplier, then "end of step response", "cycles: <n>"
//   "o <n>"           runs the test oscillator at 29,400,000 / n counts per second (0 stops)
//                     and answers "(o) <n>"
//   anything else     "?", as the firmware's parser gives up on a line it cannot read
// "o" and "r" first re-enable a servo that a following error has switched off.
class TBoardModel {
 public:
  // Creates a board with default parameters driving a motor with the given constants; the
  // seed fixes the motor's disturbance.
  explicit TBoardModel(uint64_t seed = 1, const TMotorConstants& motor = {});

  // Answers one command line (without its line end) with the lines the board sends back.
  // Unknown or malformed commands are answered "?".
  std::vector<std::string> Answer(const std::string& command);

  // Runs the servo loop for the given number of cycles.
  void RunCycles(int64_t cycles);

  // Runs the servo loop for as many whole cycles as fit into the given time, carrying the
  // remainder to the next call so that the board keeps pace with a real clock.
  void RunFor(double seconds);

  // Returns the servo period: ticks per servo cycle x 100 us.
  double ServoPeriod() const { return FParams.TicksPerServo * 100e-6; }

  // Returns the stored parameters with the servo's present "enabled" state.
  TBoardParams Params() const;

  // Replaces the stored parameters (clamped as the board would).
  void SetParams(const TBoardParams& params);

  // Makes the loop integrate error x servo period (another firmware's law) instead of the
  // error per cycle.
  void SetIntegralPerSecond(bool perSecond) { FIntegralPerSecond = perSecond; }

  // Makes the next "s" answer carry the given values.
  void SetStatusOverride(const TStatusOverride& status) { FOverride = status; }

  // Returns the servo loop's state after the last cycle.
  const TServoState& State() const { return FLoop.State(); }

  // Returns whether the last answered command changed a stored parameter.
  bool ParamsChanged() const { return FParamsChanged; }

  // Returns the servo time the last answer took to gather (the step test's run), in seconds.
  double LastAnswerDuration() const { return FLastAnswerDuration; }

 private:
  std::vector<std::string> StatusAnswer();
  std::vector<std::string> ListAnswer() const;
  std::vector<std::string> StepAnswer(const std::string& command);
  std::vector<std::string> SetAnswer(char letter, const std::string& argument);
  std::vector<std::string> OscillatorAnswer(const std::string& argument);
  TServoGains Gains() const;
  void RestartServo();

  TBoardParams FParams;
  uint64_t FSeed;
  TMotorConstants FMotorConstants;
  uint64_t FStepTests = 0;
  TMotorPlant FMotor;
  TServoLoop FLoop;
  int64_t FCommand = 0;
  double FOscillatorCarry = 0;
  double FTimeCarry = 0;
  int FOscillator = 0;
  std::optional<TStatusOverride> FOverride;
  bool FParamsChanged = false;
  bool FIntegralPerSecond = false;
  double FLastAnswerDuration = 0;
};

// Writes the parameters to a small "key value" text file, replacing it in one step so that a
// crash never leaves half a file. Returns false when the file cannot be written.
bool SaveParams(const std::string& path, const TBoardParams& params);

// Reads parameters written by SaveParams; keys missing from the file keep their defaults,
// unknown keys and unreadable values are ignored. Returns nothing when the file cannot be read.
std::optional<TBoardParams> LoadParams(const std::string& path);

// Returns why path cannot serve as the board's EEPROM file, "" when it can: a folder, a file
// in a folder that does not exist or that the board may not write to (where SaveParams makes
// its file), a file it cannot read, or a file whose lines are not all "KEY VALUE" of a board
// parameter, as SaveParams writes them. A file that does not exist yet is made at the first
// change; an empty one holds nothing yet.
std::string EepromFileProblem(const std::string& path);

// Reads a step test command "r<prediv>c<step>ok1"; prediv is 0..9999, step a signed count.
// Returns false for any other line.
bool ParseStepCommand(const std::string& command, int& prediv, long long& step);

}  // namespace zirvsim
