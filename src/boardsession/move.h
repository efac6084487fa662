#pragma once

// The board's test oscillator ("o") run by a command of the companion: the axis is never left
// moving behind the user's back. The move is kept in the journal before "o" goes out and marked
// finished once "o 0" has stopped it, so that a command killed while the axis moves is found
// by the next command on the same device, which stops the oscillator.

#include <QString>
#include <optional>
#include <vector>

#include "boardsession/journal.h"
#include "boardsession/transaction.h"
#include "globals/result.h"

class TBoardSession;

// Sends "o <value>" (an integer, as the window sends it) and checks that the board answers
// "(o) <value>". Fails when it answers otherwise or not at all, or the port fails.
TResult<void> SetOscillator(TBoardSession& session, double value);

// Stops the oscillator ("o 0"), trying again when its answer is lost. Fails, saying how else
// to stop it, when the board could not be told to stop.
TResult<void> StopOscillator(TBoardSession& session);

// The oscillator run for one command. Start() journals the move and starts it, Stop() stops it
// and finishes the entry; the destructor stops a move still running, so every way out of the
// command that unwinds stops the axis.
class TMove {
 public:
  // journal, when given, keeps the move before "o" is sent and must outlive the move.
  TMove(TBoardSession& session, TBoardJournal* journal);
  ~TMove();
  TMove(const TMove&) = delete;
  TMove& operator=(const TMove&) = delete;

  // Journals the move (the board's values as last read) and starts the oscillator at value.
  // Sends nothing when the journal fails. A move that fails to start is stopped again ("o 0"),
  // as the board may have taken the value although its answer was lost.
  TResult<void> Start(double value);

  // Stops the oscillator ("o 0", tried again when its answer is lost) and marks the entry
  // finished. Does nothing when no move runs. Fails when the board could not be told to stop:
  // the failure then says how to stop it.
  TResult<void> Stop();

  // Returns whether "o" with a value other than 0 went out and no "o 0" was answered since.
  bool Running() const { return FRunning; }
  // Returns the journal entry of the move, 0 when none was made.
  qint64 JournalId() const { return FJournalId; }
  // Returns why the journal entry could not be marked finished, if it could not.
  const std::optional<TFailure>& JournalFailure() const { return FJournalFailure; }

 private:
  TBoardSession& FSession;
  TBoardJournal* FJournal;
  bool FRunning = false;
  qint64 FJournalId = 0;
  std::optional<TFailure> FJournalFailure;
};

// Returns the moves among earlier unfinished entries that no running command holds: the
// oscillator those commands started may still run.
std::vector<TJournalEntry> LeftMoves(const std::vector<TEarlierWrite>& earlier);

// What became of the moves an earlier command left running.
struct TLeftMovesStopped {
  std::vector<TJournalEntry> Moves;  // the entries that were found
  // Why the history could not mark them finished (the oscillator is stopped all the same).
  std::optional<TFailure> JournalFailure;
};

// Stops the oscillator on the board of session ("o 0") and marks every entry of moves finished
// as "stopped by <by>". Fails, marking nothing, when the board could not be told to stop.
TResult<TLeftMovesStopped> StopLeftMoves(TBoardSession& session, const std::vector<TJournalEntry>& moves,
                                         const QString& by);

// Stops the oscillator of the board on the open port of session at once, whoever started it
// ("o 0" before anything else, tried again when its answer is lost), then marks the moves that
// the journal of its device keeps as running, and no running command holds, finished as
// "stopped by <by>". A history that cannot be read leaves nothing to mark. Fails when the board
// could not be told to stop.
TResult<TLeftMovesStopped> StopOscillatorNow(TBoardSession& session, const QString& by);
