#pragma once

#include <QString>
#include <bitset>
#include <functional>
#include <optional>
#include <vector>

#include "boardsession/boardlink.h"
#include "boardsession/paramswap.h"
#include "globals/records.h"
#include "parameters/paramtable.h"
#include "protocol/paramwrite.h"

struct TParamRow;

// One row whose value on the board may differ from what the board held when the session
// began: the value last known (none when a write was sent and its answer never came) and the
// original.
struct TValueDifference {
  const TParamRow* Row;
  std::optional<double> Held;
  double Original;
};

// How a write treats a value the board answers it holds otherwise than sent (a value the
// board limits, or one it stores wrongly).
enum class TEchoRule {
  Report,  // tell the caller and go on with the board's value
  Stop     // tell the caller and end the write there: a failure
};

// One command's time with a board: the port opened, the board's values read (the originals),
// values written with every answer checked, and put back with retries and a final read. The
// session keeps the board's values as last read or written, and which rows were sent without
// an answer, so that a failed put-back can say exactly what the board may still hold.
class TBoardSession {
 public:
  // Creates a closed session; log, when given, sees every line sent and received.
  explicit TBoardSession(TLineChannel::TLogLine log = {});

  // Opens the named port and reads the board's values, which become the originals. Returns
  // false with the reason in failure: the port's own message when it cannot be opened.
  bool Open(const QString& port, QString& failure);

  // Reads the board's values on a link opened already; they become the originals. Returns
  // false with the reason in failure when the read fails.
  bool ReadOriginals(QString& failure);

  TBoardLink& Link() { return FLink; }
  const QString& PortName() const { return FLink.PortName(); }
  // Returns the board's values as read when the session began (or as last kept).
  const TPIDParams& Original() const { return FOriginal; }
  // Returns the board's values as last read or written.
  const TPIDParams& Board() const { return FBoard; }

  // Writes the rows of target that differ from the board, in table order, with the tool's
  // set commands; the board's answer to each becomes its value. onDiffering is told of every
  // row the board answers it holds otherwise than sent; with TEchoRule::Stop that ends the
  // write as a failure. Returns false with the reason in failure at the first write that
  // fails (the rows before it stay written). Errors of the port become failures.
  bool Write(const TParamValues& target, TEchoRule rule, QString& failure,
             const std::function<void(const TParamWrite&)>& onDiffering = {});

  // Reads the board's values (they become the values last known). Returns false with the
  // reason in failure when the read fails.
  bool Read(QString& failure);

  // Reads the board's values and checks every row against expected. Returns false with the
  // reason in failure when the read fails or a row differs ("P holds 0.3, was 0.2").
  bool Verify(const TPIDParams& expected, QString& failure);

  // Returns whether anything may have changed on the board since the originals were read.
  bool Changed() const { return !Differences().empty(); }

  // Puts all fourteen original values back: writes every row that differs from the board,
  // each exactly as the board gave it (the fewest digits that read back as the same double),
  // then reads and checks every row. A failed attempt is tried again, up to three in all,
  // after reading what the board holds, unless the device is gone. Returns false with the
  // last reason in failure when every attempt failed; Differences() then says what is left.
  bool PutBack(QString& failure);

  // Returns the rows the board may hold otherwise than the originals, in table order.
  std::vector<TValueDifference> Differences() const;

  // Takes the board's present values as the originals: a change that is meant to stay.
  void Keep();

  // Keeps a durable record of the originals. Begin runs once before the first value is sent
  // (and again before the first one after the board was put back or a change kept); it
  // returns the record's number, or nothing with the reason in failure, and then nothing is
  // written. Finish is told how the record ended: "put back" or "kept".
  struct TJournal {
    std::function<std::optional<qint64>(const TPIDParams& originals, QString& failure)> Begin;
    std::function<void(qint64 id, const QString& outcome)> Finish;
  };
  void SetJournal(TJournal journal) { FJournal = std::move(journal); }

  // Returns the number of the record of the present changes, 0 when none was needed.
  qint64 JournalId() const { return FJournalId; }

 private:
  bool WriteValues(const TParamValues& target, TEchoRule rule, QString& failure,
                   const std::function<void(const TParamWrite&)>& onDiffering,
                   QString (*textOf)(double) = nullptr);
  bool PutBackOnce(QString& failure);
  bool Journaled(QString& failure);
  void Settled(const QString& outcome);

  TBoardLink FLink;
  TPIDParams FOriginal;
  TPIDParams FBoard;
  std::bitset<kParamCount> FUnanswered;  // rows sent whose answer never came
  TJournal FJournal;
  qint64 FJournalId = 0;
};

// Returns the differences as "P 0.3 (was 0.2), I ? (was 0)": the value the board may hold,
// "unknown" when a write was sent and its answer never came, and the original.
QString DifferencesText(const std::vector<TValueDifference>& differences);
