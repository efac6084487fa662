#pragma once

// Gains found by measuring on the board where the model cannot be trusted: a bounded search
// over P, D, I and "Deadband (b):", one step test at a time, judged by the same figures and the
// same never-worse verdict as a suggestion. This is the search's decision logic alone (which
// step test next, what a run costs, whether a run is dangerous); the board procedure runs the
// tests it asks for and hands back their records.
//
// How it moves: from the board's own gains (known to be safe) or the model's suggestion, a
// compass search on log P, log D, log I and the integer deadband. Each poll tries the moves the
// worse of the best gains' two steps points to first (overshoot: more D, less P; a run that
// does not settle: more P; friction that holds the motor off target: more I; an output that
// will not rest: a count more of deadband, less D), and takes the first that lowers the cost;
// after a poll that finds nothing, the moves shrink, from a factor 2 down to 2^(1/4). A move
// is tried with one step, in the direction that brings the motor back towards where it began;
// only a move that beats the best gains that way is measured the other way too. Gains that go
// further than one move from the measured ones (the model's suggestion) are first tried with a
// quarter of the step. A run that shows a danger marks its gains, and any at least as
// aggressive in P and I with the same D and deadband, as not to be tried again.
// On a machine with a load, I is sized from the fitted load, friction and time constant (enough
// to take up the load's change over the step, little enough that the approach's windup does not
// carry the motor past the deadband; against a spring from a knee on, the windup of the part of
// the travel where P lets the output off its limit), P and D keep the output's swing as the
// motor leaves the deadband within the rest limit (its jump at one edge where the drive is
// prompt; across both edges where a lag or a delay of a cycle or more holds back D's brake), and
// a trial that changes I has a rest record first: the board keeps the integral's sum, so a new I
// rescales the drive that holds the load and kicks the motor, which the trial's own step would
// otherwise show instead of its gains. Where the board's own loop has no I, its sum holds none
// of the load, and I is at least what takes the whole load up within the wait for rest; where
// the best gains, with I at the most the estimated windup allows, still stop short of the
// target and nowhere past it, the estimate gives way to a move of I up. Where the board's own
// steps ended far off their target (a sluggish loop against the load shows the fit little of
// the motor's motion), the steps of the first verification that fails are fitted again, and
// that fit sizes I and the swing at the deadband's edge from then on.
// Where the records show a count that comes and goes, loud best gains are followed by the same
// balance of P, I and D brought down to the count jump a rest allows; so are they once a run of
// gains without I has shown the motor pushed out of its rest to the edge of a count again and
// again (a force at rest that friction does not hold: cogging, a detent); where the records
// show such a count before the search begins, a loud guess comes down to it at once.
// The best gains are judged at the end with the runs of a verification (step, step back, rest
// record; two steps each way for gains whose one count beyond the deadband moves the output by more
// than a rest may, with a margin on their rest figures), and are not kept where a run of the search
// with gains no bolder (no larger count jump, no more I, the same deadband; without a load, where
// that run rocked on the edge of a count without I or with an I whose sum held nothing, no more P
// nor D either) did not come to rest quietly, nor under a load where a run with as much P and D,
// whatever its I (less I aside, below; and more D than a run that overshot beyond the goal first,
// which I brought back creeping onto the edge), left the motor crossing to and fro on the edge of a
// count: whether a motor rests on the edge of a count is a matter of where it stops, which one rest
// record cannot tell. Such gains are neither tried nor verified once a run has rocked so, but for
// less I: with records of more than a servo cycle a sample, gains that missed by such rocking alone
// are judged next with the same P and D and less I, which moves where the motor stops and rocked no
// more often. Where the best gains cannot be kept and the moves around them are spent, the search
// goes on, while runs are left, from the gains that cost least of those that may be (measured the
// other way first where a trial was left after one way that met the goal; last, under a load, from
// gains that met it but for rocking on the edge of a count, towards less P, D or I); where none
// measured both ways are left to verify, those that met the goal the one way they were measured are
// verified (its runs step both ways).
// Under a load, gains are not kept either where a step of the verification rested beyond the
// steady-state bound after its approach and I had pulled it in only to the bound when the record
// ended: how far off the approach leaves the motor depends on where it started, and from
// another rest place the same slow take-up stops further off.
// Without a load, gains with I are not kept where a step of the verification came to rest past
// its target having begun with the sum the step before wound up the other way: from a loop left
// at rest the approach's whole windup carries the motor further past.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "stepfigures/stepfigures.h"
#include "tuning/extras.h"
#include "tuning/identify.h"
#include "tuning/suggest.h"
#include "tuning/verdict.h"

// The values a search sets: the gains and the deadband. FF0 and FF1 stay as they are.
struct TSearchGains {
  double P = 0;
  double I = 0;
  double D = 0;
  double Deadband = 0;

  auto operator<=>(const TSearchGains&) const = default;
};

// What makes a run dangerous to the machine.
enum class TDanger {
  None,
  Growing,          // an oscillation whose swings grow from one to the next
  HeldAtLimit,      // the output held at its limit for more than a tenth of the record
  FollowingError,   // an error beyond half of "Fault Error (f):"
  Tripped           // an error beyond "Fault Error (f):": the board has switched its servo off
};

// Returns the danger a run shows, the worst first: a trip, a following error beyond half of
// the loop's fault error (none when it is 0), the output at its limit for more than a tenth of
// the samples once the response has first reached the target (the rise of a large step runs at
// the limit by design), or three swings of the error about the target each larger than the one
// before, the last beyond the settling band and three counts.
TDanger DangerIn(const TStepRecord& record);

// Returns what the danger is, for the report: "a growing oscillation".
std::string DangerText(TDanger danger);

// Returns whether a step's figures are within the goal: settled, overshoot at most the target,
// steady-state error at most a count or the deadband, and the output's peak-to-peak in the
// settled tail (where there is one) within kRestLimitPct.
bool StepWithinGoal(const TStepFigures& figures, const TTuningGoal& goal, double deadband);

// Returns what a step costs the search, in samples, lower being better: within the goal, its
// settling plus a tenth of its IAE over the step (which orders equal settlings by how they
// get there); otherwise twice the record more, with each figure beyond the goal adding in
// proportion to how far (overshoot, steady-state error, output at rest), so that any run within
// the goal beats any outside it, and of those outside, the nearer is the better.
double StepCost(const TStepFigures& figures, const TTuningGoal& goal, double deadband, double step, int samples);

// The box the search keeps to.
struct TSearchBounds {
  double PMin = 0, PMax = 0;
  double DMax = 0;
  double IMax = 0;
  double DeadbandMin = 0, DeadbandMax = 0;
  double MaxCountJump = 0;  // P + I + D / period at most this, % of drive per count
  double QuietCountJump = 0;  // beyond this a count that comes and goes breaks the rest limit
};

// What sizes I on a machine that carries a load, from the fitted motor. The board keeps the
// integral's sum when its gains change, and at rest that sum times I is what holds the load.
struct TIntegralSizing {
  double LoadChange = 0;    // the drive the load asks for more at the step's end than at its start,
                            // along the step, % of drive
  double Friction = 0;      // % of drive
  double WindupArea = 0;    // error the approach winds into the sum, counts x servo cycles, where
                            // the output is off its limit from the step's start
  double SettleCycles = 0;  // servo cycles the integral has to take up the load's change
  bool Prompt = false;      // the drive reaches the motor at once: no lag or delay fitted, so D
                            // brakes a motor that creeps out of the deadband as it crosses back
  double WholeLoad = 0;     // the load the integral must take up from a sum that holds none of it
                            // (the board's loop has no I), % of drive beyond friction; 0 where the
                            // sum holds the load
  double Period = 0;        // the servo period, s
  double Travel = 0;        // the step's travel, counts
  double Limit = 0;         // the output's limit, % of drive; 0: the sum is taken to grow all along
};

// Returns what sizes I for a step of travel counts at prediv on the fitted motor.
TIntegralSizing IntegralSizingFor(const TMotorModel& motor, double travel, double period, int prediv);

// Returns the error the approach of gains with P winds into the sum, counts x servo cycles: the
// board adds to the sum only while the output is off its limit, and P holds it there until the
// error has come within the limit's share of P; the rest of the travel winds up nothing. The
// area shrinks with that share: against a spring, gains with P 1.3 wound up a quarter of the
// area the whole travel gives, and I sized by it left the motor four counts short.
double WindupAreaFor(const TIntegralSizing& sizing, double p);

// The I that suits a load with given P and deadband: at least enough that the sum the approach
// winds up, with what the error at the deadband's edge (a count beyond it) adds within the
// settling time, takes up the load's change over the step beyond what friction holds, and
// where the sum holds none of the load, enough that the integral takes the whole load up
// within the wait for rest after a write (P x servo period / I within it); at most
// what leaves the sum's surplus over that change pushing the motor past the target no harder
// than friction and P at the deadband's far edge hold it.
struct TIntegralRange {
  double Least = 0;
  double Most = 0;
};
TIntegralRange IntegralRangeFor(const TIntegralSizing& sizing, double p, double deadband);

// Returns the I to run gains with on a machine with a load: the board's present I where it
// is within the range (a change of I rescales the drive the sum holds and kicks the motor),
// else the gains' own where it is, else the nearest edge of the range (an I where the gains
// have none: the load is held by the integral alone at rest). Empty where the range is empty:
// no I both takes up the load's change in time and keeps its windup within the deadband.
std::optional<double> SizedIntegral(const TIntegralSizing& sizing, const TSearchGains& gains, double present);

// Returns whether D's brake reaches a motor in time to hold it inside the deadband as it
// crosses back: the drive comes later than the servo cycle it was computed in by less than a
// cycle. A fit of a loaded machine often finds a lag of a fraction of a cycle that the machine
// does not have (a spring or an arm the model holds only in part), and holding such a machine
// to the swing across both edges of the deadband halved the count jump its gains could have:
// too little D to stop the approach's overshoot.
bool PromptDrive(const TMotorModel& motor, double period);

// What a search is given.
struct TSearchSetup {
  TTuningGoal Goal;
  TLoopSettings Loop;      // the board's loop with its present gains
  int Step = 0;            // the step as sent (the board multiplies it)
  int Multiplier = 1;      // the board's step multiplier
  int Prediv = 0;
  int MaxRuns = 54;        // step tests the search may run, its judgements included
  TBoardFigures Before;    // the present gains, measured: step, step back and rest
  std::optional<TSearchGains> Guess;  // the model's suggestion, tried first (with a deadband of a
                                      // count where one count moves its output beyond the rest limit)
  double DeadbandFloor = 0;  // the deadband the records ask for (a flickering count, play)
  double FlickerCounts = 0;  // how far a count that comes and goes at rest jumps often (noise)
  double GlitchCounts = 0;   // how far a count jumped for one sample, two counts or more, however rarely
  int GlitchEvents = 0;      // how often it jumped so in the records...
  double GlitchSeconds = 0;  // ...of this much servo time
  double PlayCounts = 0;     // the play the fit shows between motor and encoder, counts
  bool Loaded = false;       // the fit shows a load: each verification steps there and back twice
  std::optional<TIntegralSizing> Integral;  // where loaded: what sizes I
};

// Takes into the setup what the records show beyond the model, where the fit could be used:
// the deadband they ask for at least (against a flickering count or play), how far a count
// that flickers often (noise) or that a force moved at rest jumps, and whether the motor
// carries a load beyond its friction at either end of the step.
void TakeRecordsInto(TSearchSetup& setup, const TIdentification& identification, const TPlantExtras& extras);

// Takes into the setup, where the model's choice found no gains but its fit can be used and
// shows nothing the model cannot produce, a first guess: the gains the fitted motor settles
// fastest with when they need not also pull against more friction than fitted, with the
// choice's deadband. The margin is what a search on the board measures instead; without it a
// load, which leaves a motor on target only by what the integral holds, had the search start
// from the board's own gains, a long way from any that settle. Where those gains have no I and
// the board's have some, the board's I stays: the board keeps the integral's sum when gains
// change, and with the I that gathered it the sum holds the load as before. Leaves a setup
// with a guess as it is.
void TakeModelGuessInto(TSearchSetup& setup, const TIdentification& identification, const TPlantExtras& extras,
                        const TStepTestSetup& test, double deadband);

// Returns the bounds of a search: P from a sixteenth of the smallest to what the count jump
// allows, D and I as far as it allows, a deadband from the floor the records ask for to the
// larger of the present one and half the settling band (at least a count). Gains whose count
// jump passes the rest limit come with a deadband of a count at least: a count that comes and
// goes at rest (a glitch, cogging, a motor on the edge of a count) would otherwise move the
// output by more than a rest may, and a verification's short rest record may not show it.
// Where the records show such a count, no deadband helps (the motor may rest on its edge):
// the count jump keeps within the rest limit.
TSearchBounds SearchBounds(const TSearchSetup& setup);

// Returns the smaller step a search tries new gains with first: a quarter of the step, at
// least 1, in the step's direction.
int SmallStep(int step);

// What a step test of the search is for.
enum class TRunPurpose {
  Probe,   // new gains far from those measured, with the small step
  Search,  // one step of a trial
  Judge,   // one of the three runs of a verification
  Settle   // a rest record after a change of I on a machine with a load: the loop takes up the
           // kick the rescaled sum gives before the gains are measured
};

// One step test the search asks for: the board to hold gains, then "r<prediv>c<step>ok1".
struct TPlannedRun {
  TSearchGains Gains;
  int Step = 0;  // 0: a rest record
  TRunPurpose Purpose = TRunPurpose::Search;
  int Trial = 0;  // the trial it belongs to, from 1
  // The board's own values put back and the loop let come to rest with them before the gains
  // are written: the first step of a verification starts from where the board's own gains leave
  // the motor (which side of its play, how far into a spring), as a board does once they stay.
  bool FromOwnGains = false;
};

// One set of gains tried: its runs, what they cost, and what the search concluded.
struct TSearchTrial {
  int Number = 0;
  TSearchGains Gains;
  std::vector<int> Runs;       // indices into the search's runs, in order
  std::optional<double> Cost;  // the worse of its two steps; none when it has not both
  TDanger Danger = TDanger::None;
  bool Judged = false;
  bool Better = false;         // it became the best gains so far
  std::string Verdict;         // "settles in 31 samples, the best so far", ...
};

// One step test the search ran, with its figures.
struct TSearchRun {
  TPlannedRun Plan;
  TStepRecord Record;
  TStepFigures Figures;
  TDanger Danger = TDanger::None;
};

// How a search ended.
enum class TSearchEnd {
  Running,
  Kept,        // gains judged within the goal and no figure worse than before
  NoneBetter,  // nothing found that the verdict lets stay
  Tripped      // a run tripped the servo
};

class TGainSearch {
 public:
  explicit TGainSearch(const TSearchSetup& setup);

  // Returns the next step test to run, or nothing when the search is over.
  std::optional<TPlannedRun> Next();

  // Takes the record of the step test Next() gave last; returns the danger it shows.
  TDanger Record(const TStepRecord& record);

  // Allows at most this many more step tests (the time left, say), within the setup's most; the
  // judgement of the best gains comes first when they run short.
  void LimitRuns(int runs);

  // Returns the trial the last Record() completed, if it did.
  const TSearchTrial* Completed() const { return FCompleted ? &FTrials[size_t(*FCompleted)] : nullptr; }

  TSearchEnd End() const { return FEnd; }
  const std::vector<TSearchRun>& Runs() const { return FRuns; }
  const std::vector<TSearchTrial>& Trials() const { return FTrials; }
  const TSearchBounds& Bounds() const { return FBounds; }
  // The gains the verdict lets stay, when the search ended Kept.
  std::optional<TSearchGains> Kept() const { return FKept; }
  // The best gains so far and the worse of their steps' costs.
  const TSearchGains& Best() const { return FBest; }
  // The last verification: its gains, its runs (indices) and what failed.
  std::optional<TSearchGains> JudgedGains() const { return FJudgedGains; }
  std::optional<TBoardFigures> JudgedFigures() const;
  const std::vector<TFigureFailure>& Failures() const { return FFailures; }
  const std::vector<int>& JudgeRuns() const { return FJudgeRuns; }
  // The runs the verification under way has still to make.
  int JudgeRunsLeft() const { return FJudgeTotal - int(FJudgeRuns.size()); }
  // Returns the most trials the search may still make: one step test each at least.
  int MostTrials() const;

 private:
  struct TPoint {
    std::optional<double> Cost[2];  // of the negative and the positive step
    std::optional<TStepFigures> Figures[2];
    bool Dangerous = false;
    bool Judged = false;
  };
  enum class TPhase { Probe, Search, Judge, Over };
  enum class TMove { PUp, PDown, DUp, DDown, IUp, IDown, BandUp, BandDown, Faster, Calmer };

  void StartTrial(const TSearchGains& gains);
  void Finish(TSearchEnd end);
  void AfterProbe(TDanger danger);
  void AfterSearchRun(TDanger danger);
  void AfterJudgeRun(TDanger danger);
  void Judge(const TSearchGains& gains);
  std::optional<TSearchGains> ToBeJudged(bool oneWay) const;
  void ToJudge();
  std::optional<TFigureFailure> NothingVerified() const;
  std::string WithMorePText(const TSearchGains& nearest) const;
  void Verdict();
  std::string Refit();
  bool PlanMove();
  bool Recentre();
  double CentreCost(const TSearchGains& gains, const TPoint& point) const;
  bool PlanOtherWay();
  void WidenIntegralWhereShort();
  std::optional<int> KickOnCountEdge(const TSearchGains& gains) const;
  std::optional<TFigureFailure> OnCountEdge(const TSearchGains& gains) const;
  bool LessIThanRocked(const TSearchGains& rocked, const TSearchGains& gains) const;
  bool OvershotIntoRock(const TSearchRun& run, const TSearchGains& gains) const;
  bool RockedOnCountEdge(const TSearchRun& run) const;
  bool JudgeWithLessI(const TSearchGains& missed);
  bool PlanRidgeMove();
  bool PlanQuietMove();
  std::optional<TSearchGains> QuietBalance(const TSearchGains& loud) const;
  std::optional<TSearchGains> OnKickLimit(double i, double band, double ratio) const;
  void Repair(const TSearchGains& tried, const TStepFigures& figures);
  bool WorthTheOtherWay(double cost, int side) const;
  std::vector<TMove> MovesFor(const TSearchGains& at) const;
  std::optional<TSearchGains> Moved(const TSearchGains& at, TMove move) const;
  double FirstIntegral(const TSearchGains& at) const;
  bool Excluded(const TSearchGains& gains) const;
  bool Within(const TSearchGains& gains, bool quiet = true) const;
  bool IntegralFits(const TSearchGains& gains) const;
  double CostOf(const TSearchGains& gains) const;
  int Direction() const;
  int RunsLeft() const;
  bool Loud(const TSearchGains& gains) const;
  double LoudDeadband() const;
  double Kick(const TSearchGains& gains) const;
  std::pair<double, double> KickPerGain(double deadband) const;
  bool QuietAgainstGlitches(const TSearchGains& gains) const;
  std::optional<TFigureFailure> WindingAtRest(const TSearchGains& gains) const;
  TSearchGains WithinGlitchKick(TSearchGains gains, const TSearchGains& from) const;
  std::string GlitchText() const;
  int JudgeRunsFor(const TSearchGains& gains) const;
  int JudgeStep(int done) const;
  bool TakesUpSum(const TSearchGains& gains) const;
  bool OwnSumWindsUp() const;
  bool FromOwnGains(const TSearchGains& gains, int done) const;
  std::optional<TFigureFailure> OnWoundSum(const TSearchGains& gains) const;
  std::string NoIntegralTakesUpSum(const TSearchGains& gains) const;
  std::optional<TFigureFailure> OnSumAgainstStep(const TSearchGains& gains) const;
  std::optional<TFigureFailure> OnUnfinishedTakeUp(const TSearchGains& gains) const;
  std::vector<TBoardFigures> JudgedPairs() const;
  int SettleRuns(const TSearchGains& gains) const;
  double BoardI() const;
  void Plan(const TPlannedRun& run);
  void Conclude(const std::string& verdict);

  TSearchSetup FSetup;
  TSearchBounds FBounds;
  std::map<TSearchGains, TPoint> FPoints;
  std::vector<TSearchRun> FRuns;
  std::vector<TSearchTrial> FTrials;
  std::optional<int> FCompleted;  // index of the trial the last run completed
  TPhase FPhase = TPhase::Search;
  TSearchEnd FEnd = TSearchEnd::Running;
  TSearchGains FBest;
  TSearchGains FPresent;
  std::optional<TPlannedRun> FPending;
  std::optional<TPlannedRun> FAfterSettle;  // the run a settling rest record goes before
  double FScale = 1;         // log2 of a move's factor
  std::vector<TMove> FPoll;  // the moves of this poll still to try
  std::optional<TMove> FLastGood;
  std::optional<TMove> FMoving;  // the move of the trial under way
  std::set<TSearchGains> FCentres;  // gains the search has gone on from after the best were ruled out
  bool FRidging = false;     // moving along the glitches' kick limit, past the smallest move
  std::optional<TSearchGains> FRepair;  // where a bolder trial that overshot goes on to
  int FRepairs = 0;
  int FLimit = 0;            // step tests allowed in all
  int FPosition = 0;         // where the command stands, counts from where the search began
  int FJudgements = 0;
  std::vector<int> FJudgeRuns;  // the runs of the verification under way, or the last
  int FJudgeTotal = 0;       // its runs in all
  int FJudgeLead = 0;        // 1 where its first run brings the motor back where the search began
  std::optional<TSearchGains> FJudgedGains;
  std::optional<TSearchGains> FKept;
  bool FRefitted = false;    // a verification's steps have been fitted again
  // The first verification that met the goal and was not kept for a figure worse than before
  // (a slower approach than the board's own gains): its trial's number and that figure.
  int FMetButWorse = 0;
  TFigureFailure FWorseThanBefore;
  std::vector<TFigureFailure> FFailures;
};
