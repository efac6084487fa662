#pragma once

// One change of the board's parameters from its first value to its end, the way every command
// of the companion writes a board: write, restore, compare, suggest --apply, and a search that
// tries many sets of gains in turn.
//
// A transaction begins on an open session; the board's values at that moment are its
// originals. Each Write() puts a parameter set on the board: the rows that differ, in table
// order, each with its set command, each answer checked against the value sent, then every
// row checked with a read. Before the first value of the transaction is sent, the originals go
// into the journal (when one is given); nothing is sent when they cannot. The transaction ends
// with Keep(), which leaves the values written on the board, or PutBack(), which writes the
// originals back (every digit as the board gave them) and checks them with a read. Anything
// that goes wrong on the way (a value the board stores otherwise, a board that stops
// answering, the stop check saying stop) ends it at once with the board put back, and the
// destructor puts back a transaction that is still open.
//
// A sequence of trials is one transaction:
//
//   TWriteTransaction txn(session, &journal, hooks);
//   for (const TParamValues& trial : trials) {
//     if (!txn.Write(trial, TValueText::Shown)) break;  // over: the board is back already
//     ... measure the trial;
//     if (dangerous && !txn.Undo()) break;               // the originals at once, and go on
//     if (!txn.Proceed()) break;                         // interrupted: put back
//   }
//   if (txn.IsOpen() && txn.Write(best, TValueText::Shown)) txn.Keep();
//   Print(txn.Result());                                 // says what the board holds
//
// Between trials only the rows that change are written: Write() compares with what the board
// holds. Result().JournalId is the journal entry the trials belong to (TTrial::JournalId of the
// run history), once the first value has been sent. Result() is the one account of the transaction that callers print: what was sent, what
// the board answered, how it ended, what the board may still hold when it could not be put
// back, and the journal entry with any failure to mark it finished.

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "boardsession/paramswap.h"
#include "boardsession/session.h"
#include "globals/records.h"
#include "globals/result.h"

struct TParamRow;

// How the board's answer to a value compares with the value sent.
enum class TEcho {
  AsSent,      // the board holds what was sent
  Limited,     // the board holds the row's known limit, beyond which the value was sent
  Otherwise,   // the board holds another value, with no known limit to explain it
  Unanswered   // no answer came: what the board holds is not known
};

// One value sent in a transaction.
struct TValueWrite {
  const TParamRow* Row = nullptr;
  double From = 0;    // the board's value before it was sent
  double Sent = 0;
  double Echoed = 0;  // what the board answered it holds (nothing when Unanswered)
  TEcho Echo = TEcho::Unanswered;
};

// One row the board may hold otherwise than before the transaction: the value last known
// (none when a value was sent and its answer never came) and the original.
struct TValueDifference {
  const TParamRow* Row = nullptr;
  std::optional<double> Held;
  double Original = 0;
};

// How a transaction stands.
enum class TTransactionEnd {
  Open,        // under way: neither kept nor put back
  Untouched,   // over with nothing sent: the board holds its values from before
  Kept,        // over; the values written stay on the board
  PutBack,     // over; the board holds its values from before again, checked with a read
  NotPutBack   // over; the values could not be put back: Left says what may still differ
};

// The account of a transaction, from which everything said about it is made.
struct TTransactionResult {
  TTransactionEnd End = TTransactionEnd::Open;
  // Why it ended before it was kept (the first cause: a value stored otherwise, a board that
  // stopped answering, an interruption, a verification that failed); nothing when it ended
  // as the caller chose.
  std::optional<TFailure> Failure;
  // Why the put-back failed, when End is NotPutBack.
  std::optional<TFailure> PutBackFailure;
  // The rows that may still differ from the originals, when End is NotPutBack.
  std::vector<TValueDifference> Left;
  TPIDParams Originals;  // the board's values when the transaction began
  TPIDParams Board;      // the board's values as last read or answered
  std::vector<TValueWrite> Values;  // every value sent by Write(), in order
  qint64 JournalId = 0;  // the journal entry of the originals; 0 when none was made
  // Why the journal entry could not be marked finished: it then still says that the board may
  // hold what the transaction was writing, although the transaction ended.
  std::optional<TFailure> JournalFailure;

  // Returns whether the board may hold anything but what the caller chose to leave on it.
  bool BoardChanged() const { return End == TTransactionEnd::NotPutBack; }
};

// Where a transaction keeps the board's values before its first write, so that they can be put
// back even when the program that wrote never could (killed, unplugged, power lost).
class TBoardJournal {
 public:
  virtual ~TBoardJournal() = default;
  // Keeps originals durably, with what the journal knows of the command, and returns the
  // entry's number. When it fails, nothing is written.
  virtual TResult<qint64> Begin(const TPIDParams& originals) = 0;
  // Marks the entry finished with the outcome: "kept" or "put back".
  virtual TResult<void> Finish(qint64 id, const QString& outcome) = 0;
};

// What a transaction asks of the program that runs it; each may be left empty.
struct TTransactionHooks {
  // Returns why the transaction must stop now (an interruption, output nobody can read), or
  // nothing. Asked before each value is sent and before the values are kept; a stop then is
  // an interruption, and the board goes back.
  std::function<std::optional<TFailure>()> Stop;
  // Told why the transaction ends before it is kept, before the board is put back; goesBack
  // says whether anything was sent (and now goes back) or nothing was written.
  std::function<void(const TFailure& why, bool goesBack)> Stopping;
  // Told of a step that takes a while: "putting the board's values back".
  std::function<void(const QString& line)> Progress;
};

class TWriteTransaction {
 public:
  // Begins a transaction on the board of session (open, its values read): they become the
  // originals. journal, when given, keeps them before the first value is sent and must live as
  // long as the transaction.
  TWriteTransaction(TBoardSession& session, TBoardJournal* journal, TTransactionHooks hooks = {});
  // Puts the board back when the transaction is still open.
  ~TWriteTransaction();
  TWriteTransaction(const TWriteTransaction&) = delete;
  TWriteTransaction& operator=(const TWriteTransaction&) = delete;

  // Puts target on the board: the rows that differ from what the board holds, in table order,
  // each sent as text says and its answer checked, then every row checked with a read. A value
  // the board limits (TEcho::Limited) is taken as the board's value and the write goes on. A
  // value stored otherwise, a value that reads back otherwise than answered, a missing answer,
  // a failing port or a stop ends the transaction there: the board is put back, and the
  // failure returned is the cause. Fails at once on a transaction that is over.
  TResult<void> Write(const TParamValues& target, TValueText text);

  // Writes the originals back, every digit as the board gave them, and stays open: a trial
  // that must not stay on the board while the next is chosen. Fails as Write() fails.
  TResult<void> Undo();

  // Returns the values the last Write() sent, in table order.
  const std::vector<TValueWrite>& LastWrite() const { return FLastWrite; }

  // Asks the stop check between the steps of a longer procedure (a step test after a write):
  // when it says stop, the board is put back and its reason returned.
  TResult<void> Proceed();

  // Ends the transaction leaving the values written on the board, and marks the journal entry
  // "kept". A stop due now puts the board back instead, and its reason is returned.
  TResult<void> Keep();

  // Ends the transaction putting the originals back; why, when given, is the cause, told to
  // the Stopping hook and recorded (a verification that failed). Returns whether the board
  // holds its values from before.
  bool PutBack(std::optional<TFailure> why = std::nullopt);

  // Returns whether the transaction is still under way.
  bool IsOpen() const { return FResult.End == TTransactionEnd::Open; }

  // Returns the account of the transaction so far.
  const TTransactionResult& Result() const { return FResult; }

 private:
  TResult<void> SendValue(const TParamRow& row, double value, TValueText text);
  TResult<void> Verify(const TPIDParams& expected, bool againstOriginals);
  TResult<void> PutBackOnce(bool& worthRetrying);
  TResult<void> Journaled();
  TResult<void> Stopped(TFailure why);
  void Settle(TTransactionEnd end, const QString& outcome);
  std::vector<TValueDifference> Differences() const;

  TBoardSession& FSession;
  TBoardJournal* FJournal;
  TTransactionHooks FHooks;
  bool FSent = false;  // a value went to the board (answered or not)
  std::vector<TValueWrite> FLastWrite;
  TTransactionResult FResult;
};

// Returns the differences as "P 0.3 (was 0.2), I unknown (was 0)": the value the board may
// hold, "unknown" when a value was sent and its answer never came, and the original.
QString DifferencesText(const std::vector<TValueDifference>& differences);

// Returns the originals of the differences as a parameter file has them: "P=0.2 FF0=0.3".
QString OriginalValuesText(const std::vector<TValueDifference>& differences);
