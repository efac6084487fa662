#pragma once

// Where the companion's commands read and write, and how they print errors, questions and
// tables.

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <vector>

struct TFailure;

// Exit status of zirv7ctl, as grep and git use it.
enum TExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Where a subcommand reads and writes: results go to Out, progress and messages to Err, so
// that `zirv7ctl ... --json | jq` sees results only; questions are answered on In.
struct TCtlIo {
  QTextStream& Out;
  QTextStream& Err;
  QTextStream& In;
};

// Writes "zirv7ctl: <what>: <message>" (or "zirv7ctl: <message>" when what is empty) to Err.
void PrintError(TCtlIo& io, const QString& what, const QString& message);

// Writes "zirv7ctl: <message>" to Err and the failure's explanation, if any, on the line after.
void PrintFailure(TCtlIo& io, const TFailure& failure);
// As PrintFailure, with what it concerns: "zirv7ctl: <what>: <message>".
void PrintFailure(TCtlIo& io, const QString& what, const TFailure& failure);

// Asks a yes/no question on Err and reads the answer from In; only "y" or "yes" (any case)
// agree. An empty or closed input declines, and so does Ctrl+C while an interrupt guard is
// active (the question ends at once).
bool Confirm(TCtlIo& io, const QString& question);

// Returns "standard output" or "standard error" when what is written there can no longer reach
// anyone: a write to it failed (a closed pipe, a pager that quit, a full disk, a file-size
// limit), it is a pipe nobody reads any more, or it was closed before the program began; ""
// when both can be written. Flushes both first, so that a failure shows. A command that writes
// the board treats such output as an interruption until its values are kept.
QString ClosedOutput(TCtlIo& io);

// Returns whether the stream reads or writes a terminal.
bool IsTerminal(QTextStream& stream);

// Returns whether the stream writes a terminal that can redraw a line in place (CR, then
// ESC[K to clear it): not one whose TERM is unset or "dumb", as Emacs's shell and serial
// consoles set it, where the control bytes would show as text.
bool CanRedrawLine(QTextStream& stream);

// Pads the cells of a table to their column's width (the first leftColumns columns to the
// left, the rest to the right) and prints it on Out; the first row is the header.
void PrintTable(TCtlIo& io, const std::vector<QStringList>& rows, int leftColumns);
