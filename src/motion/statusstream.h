#pragma once

// The board's status as a stream of samples: one "s" exchange after another, each sample
// stamped with the seconds since the stream began and the wall-clock time, written as CSV or
// JSON Lines as it comes, and summed up without keeping the samples.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

#include "globals/records.h"
#include "globals/result.h"

class QElapsedTimer;
class TBoardSession;

// One status sample: when it was asked for, and the board's nine values.
struct TStatusSample {
  double Seconds = 0;  // since the stream began, when "s" went out
  // When its answer was in, on the same clock; 0 where not kept. The board read its values
  // between Seconds and this, a span a busy machine may stretch well beyond the wire's time.
  double AnsweredSeconds = 0;
  // When the board read its values, as far as the wire makes certain, on the same clock: not
  // before "s" had crossed the line, and not after its answer's first line (and its last) came
  // in less the time those bytes took on the wire. 0 where not kept. However late a busy
  // machine sends the request or reads the answer, the reading lies between the two.
  double ReadAfterSeconds = 0;
  double ReadBySeconds = 0;
  QDateTime Time;      // the wall-clock time of the same moment
  TPIDStatus Status;
};

// How long a status answer is waited for: the window's 500 polls of at least a millisecond.
inline constexpr int kStatusTimeoutMs = 500;

// Asks the board for its status ("s") and returns the nine values, waiting for the answer in
// the event loop rather than in polls of a millisecond, so that one exchange follows another
// as fast as the line carries them. Fails when the answer is incomplete after timeoutMs or
// does not parse (naming the line), or when the port fails. Leaves no transaction marked.
TResult<TPIDStatus> ReadStatusNow(TBoardSession& session, int timeoutMs = kStatusTimeoutMs);

// Samples the board's status once, as ReadStatusNow, stamped on clock: when "s" went out, when
// its answer was in, and the span the board read its values in (ReadAfterSeconds,
// ReadBySeconds).
TResult<TStatusSample> SampleStatusNow(TBoardSession& session, const QElapsedTimer& clock,
                                       int timeoutMs = kStatusTimeoutMs);

// Returns the CSV header of the stream: the two stamps, then the nine values in the order of
// the "s" answer: "seconds,time,command,feedback,error,error_i,error_d,output,limit_state,
// servo_enabled,test_osc".
QString StatusCsvHeader();

// Returns one sample as a CSV line (no line end), its columns as StatusCsvHeader names them:
// the seconds with three decimals, the time in ISO 8601 with milliseconds and the UTC offset,
// the values as the board gave them.
QString StatusCsvRow(const TStatusSample& sample);

// Returns one sample as a JSON object on one line (no line end), with the keys of the CSV
// columns; numbers by the companion's JSON number rule.
QByteArray StatusJsonLine(const TStatusSample& sample);

// The least, mean and greatest of a value over the samples so far.
struct TValueRange {
  double Min = 0;
  double Mean = 0;
  double Max = 0;
};

// What a stream of samples amounts to, kept as it goes: a day's stream costs what a minute's
// does.
class TStreamSummary {
 public:
  // Counts a sample in.
  void Add(const TStatusSample& sample);
  // Counts a sample that failed.
  void AddFailure() { ++FFailures; }
  // Sets how long the stream has run, in seconds.
  void SetSeconds(double seconds) { FSeconds = seconds; }

  int Samples() const { return FSamples; }
  int Failures() const { return FFailures; }
  double Seconds() const { return FSeconds; }
  // Returns the samples per second over the stream's time (0 before it has any).
  double Rate() const;
  // Return the ranges of error and output; empty before the first sample.
  std::optional<TValueRange> Error() const;
  std::optional<TValueRange> Output() const;

 private:
  struct TRunning {
    double Min = 0, Max = 0, Sum = 0;
    void Add(double v, bool first);
  };
  int FSamples = 0;
  int FFailures = 0;
  double FSeconds = 0;
  TRunning FError, FOutput;
};

// Returns the summary on one line: "812 samples in 20.0 s (40.6 a second), 0 failed; error
// min -3 mean 0.25 max 4, output min -12.5 mean 0.8 max 13.1".
QString SummaryText(const TStreamSummary& summary);

// What a watch is asked to do.
struct TWatchOptions {
  int EveryMs = 1000;           // from one sample's start to the next's; 0: one right after another
  std::optional<qint64> ForMs;  // stop after this long; none: until stopped
};

// How a watch ended.
enum class TWatchEnd {
  Time,      // its time was up
  Stopped,   // the stop check said stop (Ctrl+C, output nobody reads)
  Failing,   // kFailuresInARow samples in a row failed
  Output     // a sample could not be written
};

// What a watch asks of the program that runs it; Sample must be given.
struct TWatchHooks {
  // Writes a sample; a failure ends the watch (TWatchEnd::Output).
  std::function<TResult<void>(const TStatusSample& sample)> Sample;
  // Told of a sample that failed and how many have failed in a row.
  std::function<void(const TFailure& why, int inARow)> SampleFailed;
  // Returns whether to stop now; asked between samples.
  std::function<bool()> Stop;
  // Told a few times a second how the stream stands.
  std::function<void(const TStreamSummary& summary)> Progress;
};

// The samples that may fail in a row before the watch gives up.
inline constexpr int kFailuresInARow = 5;

struct TWatchResult {
  TWatchEnd End = TWatchEnd::Time;
  TStreamSummary Summary;
  std::optional<TFailure> Failure;  // the last sample's failure (Failing), or the output's (Output)
};

// Streams the status of the board of session until its time is up or it is stopped. Sends
// nothing but "s": the board's values are never written. A sample due at once (EveryMs 0, or
// one running late) is asked for while the last two lines of the answer before it are still
// coming, so that the board's delay before its answer overlaps them; the board answers in
// order and never holds more than that one command besides the one it answers. The stream
// ends with no answer on its way.
TWatchResult WatchStatus(TBoardSession& session, const TWatchOptions& options, const TWatchHooks& hooks);
