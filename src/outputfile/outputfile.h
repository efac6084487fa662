#pragma once

#include <QByteArray>
#include <QString>

// Output files of the command-line companion (pictures, CSV, parameter files). Output goes
// only to regular files, as sort -o and git do: a device, FIFO or socket given as an output
// path is refused rather than replaced by a file or fed, and a link another user planted in a
// sticky world-writable folder (/tmp) is not followed, as the kernel's protected-symlink rule
// would not follow it either. The checks run before any work is done, so that a typo in a
// path costs nothing on the board.

// The name that stands for standard output.
inline constexpr char kStandardOutput[] = "-";

// Returns "" when path may be written as an output file (it is a regular file that may be
// written, or it does not exist yet in a folder that does and may be written), else why not,
// as a sentence without the path ("is a character device; output goes only to regular
// files or '-'"). "-" is not checked here: callers decide whether they take it.
QString OutputPathProblem(const QString& path);

// Returns the problem of following the link at linkPath for a process of effective user id
// uid: "" when the link may be followed, else why not. A link in a sticky world-writable
// folder is followed only when it belongs to uid or to the folder's owner.
QString ProtectedLinkProblem(const QString& linkPath, unsigned uid);

// Writes bytes to path whole or not at all (a failed write leaves an existing file as it
// was), after checking it with OutputPathProblem. Returns false with the reason in error.
bool WriteOutputFile(const QString& path, const QByteArray& bytes, QString& error);
