#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tuning/identify.h"
#include "tuning/suggest.h"

// What the records show of the machine beyond the model of one mass with Coulomb friction:
// a count that flickers (encoder noise, or a motor on the edge of a count), a loop that hunts
// at rest (play or friction the model does not hold: the output moves, the count hardly), and
// ringing the first-order model cannot produce.
struct TPlantExtras {
  int FlickerCounts = 0;   // the largest one-sample excursion of the count at rest; 0: none seen
  int FlickerEvents = 0;   // how many were seen
  int GlitchEvents = 0;     // how many of them were two counts or more
  double FlickerSeconds = 0;  // the servo time the flicker was looked for in (one cycle a sample)
  double FlickerDrive = 0;     // the largest drive the loop held before a flicker, % of drive
  bool MovedAtRest = false;   // a count came and went by one under a drive below the friction
                              // fitted: not the loop's doing
  bool HuntsAtRest = false;        // the rest record's output swings beyond the rest limit, slowly
  double RestOutputPpPct = 0;      // of the rest record, % of "Max Output (m):"
  double RestErrorPp = 0;          // counts
  double RingingHz = 0;            // 0: no ringing beyond the model
  double RingingCounts = 0;        // its typical swing, peak-to-peak
  double PlayCounts = 0;           // play between motor and encoder; 0: none seen
  // The residual swung with the loop's own swing, as a force that changes with where the motor
  // stands (cogging, a detent) makes it.
  bool ForceAlongTravel = false;
  std::vector<std::string> Findings;  // what the records show, one sentence each
};

// The fewest alternating swings of the residual (measured less modelled error) that count as
// ringing (one fewer for a ring that dies down early, its swings a count beyond the least),
// and the least swing, in counts.
inline constexpr int kRingingSwings = 6;
inline constexpr double kRingingMinCounts = 2;

// Reads the extras from the step records (at their prediv, started as the fit found them) and a
// rest record (every cycle, the command not moved), when there is one: flicker in the rest record and the steps' settled
// tails, hunting in the rest record, and ringing in the residual of each step record sampled
// every cycle against the fitted motor driven by the outputs the board applied.
TPlantExtras EstimateExtras(std::vector<TStepRecord> steps, const std::optional<TStepRecord>& rest,
                            const TIdentification& fit);

// Returns whether a count that came and went by one, now and then, did so where the loop could
// not have moved the motor: the drive it held before each below the fitted friction, and no
// load beyond friction fitted (travel: the step, counts). A force that friction does not hold
// where the motor stood (cogging, a detent) moved it, or the encoder jitters on the edge of a
// count; either way the motor may come to rest on the deadband's edge, where a loop whose one
// count moves the output beyond the rest limit hunts across it.
bool CountMovedAtRest(const TPlantExtras& extras, const TMotorModel& motor, double travel);

// Returns the deadband the choice uses against play: one count where the records show play, 0
// where they do not. A loop that keeps correcting the last count of a motor in play pushes it
// across the play and back, the count coming and going: it hunts at rest with the output
// swinging by the count jump. With the last count let be, the motor rests against one side of
// the play. (A model of one mass with Coulomb friction and play holds still there, so the hunt
// cannot be predicted from the fit; the deadband is what keeps it away.)
double DeadbandAgainstPlay(const TPlantExtras& extras);

// A count that flickers this often in the records is noise, not a glitch now and then or a
// motor resting on the edge of a count.
inline constexpr int kNoisyFlickers = 10;

// Returns the deadband the choice uses against a flicker of the count: the flicker's size where
// it flickers as often as noise, so that a count that comes and goes leaves the output alone; 0
// where the records show none, or a count that came and went now and then (a motor on the edge
// of a count, which any run may show or not, or a glitch of the encoder). A deadband does not
// quieten a glitch: the motor rests anywhere within it, and a glitch at its edge meets the loop
// as the deadband and the glitch together, so that every count of deadband adds to the kick.
double DeadbandAgainstFlicker(const TPlantExtras& extras);

// Returns the goal with the count jump held to the rest limit (kRestLimitPct) where the count
// flickers often (noise): a flicker that still passes the deadband then moves the output no
// more than a rest may. What shows now and then does not hold the model's choice: a glitch of
// the encoder, or a count a force moved at rest (CountMovedAtRest). Whether a run's few records
// hold one is chance: a glitch seen held one count to a twelfth of what it may push, and the
// same board was refused in one run (nothing so soft pulled the motor onto target) and given
// gains in the next. A search on the board holds its trials to a glitch's kick, or to the rest
// limit, on that evidence instead.
TTuningGoal GoalAgainstFlicker(const TTuningGoal& goal, const TPlantExtras& extras);

// The size of a glitch the records show: a one-sample jump of the count by two counts or more,
// however rarely (a jump of one is as likely a motor resting on the edge of a count), but not as
// often as noise (which the flicker's deadband and count jump take); 0: none.
int GlitchCounts(const TPlantExtras& extras);

// How far a glitch moves the output, peak to peak, in % of drive: for one sample the loop meets
// the glitch of the given size on top of the deadband's edge or a count, where the motor may
// rest (the error within the deadband counts as 0, beyond it whole), and then the error falls
// back. P (and I) take the error once; D takes it as the error's change per servo period, once
// up and once down.
double GlitchKick(double p, double i, double d, double deadband, double period, double glitch);

// What the records show of glitches, as a person reads it: "the encoder's count jumps for a
// sample by as much as 2 counts (1 jump of two counts or more in 0.11 s of records)".
std::string GlitchesSeenText(double glitch, int events, double seconds);

// How GlitchKick reads to a person, for a glitch of the given size: about "(P + I + 2 D / servo
// period) x (the deadband or a count, + glitch)".
std::string GlitchKickText(double glitch);

// The count jump, in % of "Max Output (m):", that holds a glitch's kick within the rest limit
// whatever D's share of the jump (the kick is at most twice the count jump times the glitch and
// the deadband's edge or a count).
double GlitchCountJumpPct(double glitch, double deadband);

// Returns GoalAgainstFlicker's goal with the count jump held further, where the records show a
// glitch, to what keeps its kick within the rest limit (GlitchCountJumpPct). Not for the
// model's choice, which a glitch seen by chance would flip between runs, but for where a search
// on the board starts: it holds its trials to a glitch's kick, and bold gains cut down to that
// kick keep D's share and overshoot where gains chosen within the hold do not.
TTuningGoal GoalAgainstGlitches(const TTuningGoal& goal, const TPlantExtras& extras);

// Returns why no suggestion can be trusted with these extras (ringing the model cannot
// produce); empty when the choice can handle them.
std::string ExtrasRefusal(const TPlantExtras& extras);
