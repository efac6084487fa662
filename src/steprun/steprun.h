#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "globals/records.h"
#include "stepfigures/stepfigures.h"

// One step-response run: what was asked, the gains it ran with, what the board answered and
// the figures of that answer.
struct TStepRun {
  qint64 Id = 0;          // the run's number in the history, 0 while not stored
  QDateTime Time;         // when the test ran
  QString Port;           // the port name it ran on ("COM1")
  QString Label;          // the parameter file it ran with, or empty
  int Step = 0;           // the step asked for ("r<prediv>c<step>ok1")
  int Prediv = 0;
  TPIDParams Params;      // the board's parameters during the run
  std::vector<double> Errors;   // one per sample
  std::vector<double> Outputs;  // index-parallel to Errors
  TStepFigures Figures;
};

// Returns the counts the command moved by: the step times the board's step multiplier, which
// the board applies to every step input (a multiplier below 1 counts as 1).
double StepAmplitude(int step, const TPIDParams& params);

// Returns whether the step trips the board's servo at once: its amplitude lies beyond
// "Fault Error (f):", which switches the servo off (a fault error of 0 trips nothing).
bool StepTripsServo(int step, const TPIDParams& params);

// Returns the time between two samples in milliseconds: prediv + 1 servo cycles of
// "Ticks per servo cycle (t):" x 100 us each; empty when the ticks are not positive.
std::optional<double> SamplePeriodMs(const TPIDParams& params, int prediv);

// Returns the run's sample period (see above).
inline std::optional<double> SamplePeriodMs(const TStepRun& run) {
  return SamplePeriodMs(run.Params, run.Prediv);
}

// Returns whether a time figure in samples lies within one sample of the step: the sampling
// (a coarse prediv) is too slow to measure it, and it is shown empty rather than as a time.
bool WithinOneSample(std::optional<double> samples);

// Returns the note a run's table or JSON carries when its rise, peak or settling lies within
// one sample ("the response lies within one sample (20.4 ms): ..."); "" otherwise.
QString CoarseSamplingNote(const TStepRun& run);

// Computes run.Figures from its samples, step and parameters.
void UpdateFigures(TStepRun& run);

// Returns a figure the tool computes as JSON: rounded to the 15 significant digits the tool's
// number text keeps (0.4 x 58 as 23.2, not as the double's 23.200000000000003), so that the
// last bits of a product of decimal values do not pass for precision; null when it is no
// finite number. The values the board gives (parameters, samples) go into JSON exactly.
QJsonValue FigureJson(double value);
// The same for a figure that may not exist: null then.
QJsonValue FigureJson(std::optional<double> value);

// Returns the fourteen parameters by their parameter-file keys ("P", "MaxOutput", ...).
QJsonObject ParamsJson(const TPIDParams& params);

// Reads parameters written by ParamsJson; keys that are absent keep their zero. Valid is set.
TPIDParams ParamsFromJson(const QJsonObject& object);

// Returns the figures as JSON: rise_samples, overshoot_pct, peak_sample, settling_samples,
// steady_state_error, iae, peak_output, saturated, rest_output_pp_pct, rest_error_pp,
// sample_period_ms and the times rise_ms,
// peak_ms, settling_ms; a figure or time that does not exist is null. Each is a FigureJson.
QJsonObject FiguresJson(const TStepFigures& figures, std::optional<double> samplePeriodMs);

// Returns the run as JSON: its figures (FiguresJson) plus id, port, step, prediv, sample_count,
// samples (an array of [error, output] pairs; left out when sampleCount is given, as for a
// listing read without its samples), params (ParamsJson) and time (ISO 8601 with the UTC
// offset), label (null when it has none) and note (null unless the figures that lie within
// one sample are null, then why: CoarseSamplingNote).
QJsonObject RunJson(const TStepRun& run, std::optional<int> sampleCount = std::nullopt);

// Returns the time as ISO 8601 with its UTC offset and milliseconds.
QString IsoTime(const QDateTime& time);

// Returns the short name a run goes by in legends and tables: its label, else "#<id>" (or
// "run") with its step and gains.
QString RunCaption(const TStepRun& run);

// Returns the runs' samples as CSV text: a header, then one line per sample of each run with
// run id, label, step, prediv, sample index, time in ms (empty when unknown), error, output.
QString RunsCsv(const std::vector<TStepRun>& runs);
