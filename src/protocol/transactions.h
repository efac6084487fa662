#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "globals/records.h"

class TLineChannel;

// One sample of a step-response answer.
struct TStepSample {
  double Error = 0;
  double Output = 0;
};

// The board's command transactions. Each runs on the user-interface thread, keeps the event
// loop turning while it waits (so receive notifications, clicks and timer ticks run meanwhile)
// and uses FWaitRS232 to keep transactions from overlapping. Poll limits are counts of polls.

// Sends "<letter> <value>" and parses the newest answer line with tag. Returns whether the
// board echoed a value; echoed holds it. Clears FWaitRS232 unless an exception (a malformed
// number, a closed port) ends it.
bool SetBoardValue(TLineChannel& channel, const QString& letter, const QString& tag, double value,
                   double& echoed);

// Returns the set command as it goes to the board: "<letter> <valueText>" ("p 0.3").
QString SetCommandText(const QString& letter, const QString& valueText);

// As SetBoardValue, with the value's text as it is to be sent (SetCommandText).
bool SetBoardValueText(TLineChannel& channel, const QString& letter, const QString& tag,
                       const QString& valueText, double& echoed);

// As SetBoardValueText, for exchanges that must read their own answer on a line where an
// earlier answer may still be coming (a status whose request timed out arrives late, a line at
// a time): the answer is the first line after the command that holds tag, and lines without it
// are passed over rather than read as the answer. Waits for that line as WaitForReply waits for
// any line.
bool SetBoardValueTagged(TLineChannel& channel, const QString& letter, const QString& tag,
                         const QString& valueText, double& echoed);

// Sends "s" and fills status from the nine answer lines. Success is status.Valid; on failure
// FWaitRS232 stays set, so the next transaction first waits out its idle wait.
void ReadStatus(TLineChannel& channel, TPIDStatus& status);

// Fills status from the nine lines of an "s" answer (lines 0 to 8, as the line channel keeps
// them), in line order, stopping at the first line that does not parse. Returns whether all
// nine parsed; status.Valid says the same.
bool ParseStatusAnswer(const QStringList& lines, TPIDStatus& status);

// Returns whether line can be the first line of an "s" answer: it carries that line's tag
// ("command").
bool IsStatusAnswerStart(const QString& line);

// Returns the oscillator value ("o") for a speed of v x 10 counts per second ("Pos X 10 per
// sec:"): 2940000 / v rounded to the nearest integer, ties to even; 0 stops the oscillator.
double OscillatorValue(int v);

// Returns the speed in counts per second at which the board's oscillator moves the command
// at oscillator value o (29,400,000 / o; 0 when stopped).
double OscillatorSpeed(double o);

// Sends "l" and fills params from answer lines 2 to 16. Success is params.Valid; fields not
// reached by the parse keep the values params had on entry. As with ReadStatus, FWaitRS232
// stays set on failure.
void ReadParameters(TLineChannel& channel, TPIDParams& params);

// Sends "r<prediv>c<step>ok1" and returns the (error, output) pairs of answer lines 4 to 401,
// stopping at the first line that does not parse, and none when another exchange emptied the
// received lines during the wait. Neither waits for nor marks a transaction. The wait lasts
// StepAnswerPolls(prediv, ticksPerServo) polls.
QList<TStepSample> StepResponseExchange(TLineChannel& channel, int prediv, int step, int ticksPerServo);

// Runs the same exchange and hands each pair to onSample as soon as it is parsed, so that a
// number that raises EConvertError midway leaves the pairs before it already delivered.
void StepResponseExchange(TLineChannel& channel, int prediv, int step, int ticksPerServo,
                          const std::function<void(const TStepSample&)>& onSample);

// Returns how long a board whose servo cycle lasts ticksPerServo x 100 us needs to answer a
// step test at prediv, in ms: its 199 samples of prediv + 1 servo cycles each, the 404 answer
// lines at 57600 baud (StepLineBytes each at most), and StepAnswerMarginMs.
int StepAnswerTimeMs(int prediv, int ticksPerServo);

// Returns the polls a step-test exchange waits: StepPollLimit, or one poll for each ms of
// StepAnswerTimeMs when the board needs longer (a poll lasts at least 1 ms).
int StepAnswerPolls(int prediv, int ticksPerServo);

// Parses the (error, output) pairs of a step-test answer, lines 4 to 401 of lines as the line
// channel keeps them, handing each to onSample; stops at the first line that does not parse or
// is missing. A malformed number raises EConvertError, the pairs before it already delivered.
void ParseStepAnswer(const QStringList& lines,
                     const std::function<void(const TStepSample&)>& onSample);

// The predivs a step test may be given: the board samples every prediv + 1 servo cycles.
inline constexpr int StepMinPrediv = 0;
inline constexpr int StepMaxPrediv = 50;

// Poll limits of the transactions.
inline constexpr int StatusPollLimit = 500;
inline constexpr int ParametersPollLimit = 500;
inline constexpr int StepPollLimit = 3000;
inline constexpr int StatusLineCount = 9;
// The board's line in bytes per second: 57600 baud, 10 bits a byte with start and stop bit.
inline constexpr qint64 kWireBytesPerSecond = 5760;
inline constexpr int ParametersLineCount = 17;
// A step-test answer: four header lines, an error and an output line per sample, two trailer
// lines.
inline constexpr int StepFirstSampleLine = 4;
inline constexpr int StepLineCount = StepFirstSampleLine + 2 * kStepTestSamples + 2;
// The longest step-test answer line counted on: a tag and a number of up to 17 significant
// digits with an exponent ("output: -1.2345678901234567E-300" and its line end).
inline constexpr int StepLineBytes = 32;
// What a step-test wait allows beyond the board's own time, for the board's reply delay. A busy
// machine needs none: its polls only last longer. With it, a board at the usual 4 ticks per servo
// cycle answers within StepPollLimit polls up to prediv 2.
inline constexpr int StepAnswerMarginMs = 500;
