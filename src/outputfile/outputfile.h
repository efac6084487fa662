#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include "globals/result.h"

// Output files of the command-line companion (pictures, CSV, parameter files). Output goes
// only to regular files, as sort -o and git do: a device, FIFO or socket given as an output
// path is refused rather than replaced by a file or fed. The path is followed one component at
// a time from an open folder to the next, and a link in any component that another user
// planted in a sticky world-writable folder (/tmp) is not followed, as the kernel's
// protected-symlink rule would not follow it; the file is then written relative to the folder
// so checked, so that a link swapped in meanwhile cannot lead the write elsewhere. A whole
// file is written beside the old one and renamed over it: a full disk, a file-size limit or
// any failed write leaves the old file as it was. A program that writes output files ignores
// SIGXFSZ, so that going over a file-size limit fails the write instead of ending the program.

// The name that stands for standard output.
inline constexpr char kStandardOutput[] = "-";

// Returns "" when path may be written as an output file (it is a regular file that may be
// written, or it does not exist yet in a folder that does and may be written), else why not,
// as a sentence without the path ("is a character device; output goes only to regular
// files or '-'"). "-" is not checked here: callers decide whether they take it. Commands check
// their outputs with it before any work is done, so that a typo in a path costs nothing on
// the board.
QString OutputPathProblem(const QString& path);

// What the kernel's protected-symlink rule looks at: the folder a link stands in and the
// link's owner.
struct TLinkPlace {
  unsigned FolderMode;   // st_mode of the folder
  unsigned FolderOwner;  // its uid
  unsigned LinkOwner;    // the link's uid
};

// Returns whether a process of effective user id user may follow a link standing at place: a
// link in a sticky world-writable folder only when it belongs to user or to the folder's owner,
// any other link always.
bool MayFollowLink(const TLinkPlace& place, unsigned user);

// Writes bytes to path whole or not at all, after the checks of OutputPathProblem. On failure
// the message names the path and the reason ("<path>: could not be written: No space left on
// device") and an existing file is left as it was.
TResult<void> WriteOutputFile(const QString& path, const QByteArray& bytes);

// Makes a file's new content from its old one ("" when there is none).
using TContentUpdate = std::function<TResult<QByteArray>(const QByteArray& old)>;

// As WriteOutputFile, with the bytes update makes of the file's present content, read from
// the same place the new content goes to: a file in another hand keeps its other lines. A
// failure of update is returned as it is.
TResult<void> UpdateOutputFile(const QString& path, const TContentUpdate& update);
