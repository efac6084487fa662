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
  bool HuntsAtRest = false;        // the rest record's output swings beyond the rest limit, slowly
  double RestOutputPpPct = 0;      // of the rest record, % of "Max Output (m):"
  double RestErrorPp = 0;          // counts
  double RingingHz = 0;            // 0: no ringing beyond the model
  double RingingCounts = 0;        // its typical swing, peak-to-peak
  std::vector<std::string> Findings;  // what the records show, one sentence each
};

// The fewest alternating swings of the residual (measured less modelled error) that count as
// ringing, and the least swing, in counts.
inline constexpr int kRingingSwings = 6;
inline constexpr double kRingingMinCounts = 2;

// Reads the extras from the step records (at their prediv) and a rest record (every cycle, the
// command not moved), when there is one: flicker in the rest record and the steps' settled
// tails, hunting in the rest record, and ringing in the residual of each step record sampled
// every cycle against the fitted motor driven by the outputs the board applied.
TPlantExtras EstimateExtras(const std::vector<TStepRecord>& steps, const std::optional<TStepRecord>& rest,
                            const TMotorModel& motor);

// Returns the deadband the choice uses against a flicker: the flicker's size, so that a count
// that comes and goes leaves the output alone; 0 when the records show none.
double DeadbandAgainstFlicker(const TPlantExtras& extras);

// Returns the goal with the count jump held to the rest limit (kRestLimitPct) where the count
// flickers: a flicker that still passes the deadband then moves the output no more than a
// rest may.
TTuningGoal GoalAgainstFlicker(const TTuningGoal& goal, const TPlantExtras& extras);

// Returns why no suggestion can be trusted with these extras (ringing the model cannot
// produce); empty when the choice can handle them.
std::string ExtrasRefusal(const TPlantExtras& extras);
