#pragma once

// Where an output path leads, found component by component: the writers of this library
// share it.

#include <QByteArray>
#include <QString>
#include <sys/stat.h>

#include "globals/filesave.h"
#include "globals/result.h"

// The end of an output path: the folder it ends in, held open, and the file's name in it.
struct TOutputPlace {
  TFd Folder;         // an O_PATH descriptor of the folder
  QByteArray Name;    // one component, never a link
  bool Exists = false;
  struct stat Status {};  // of the file, when it exists
};

// Follows path from the root or the working folder one component at a time, each opened
// relative to the one before without following links; a link is followed by hand when the
// protected-symlink rule (MayFollowLink) allows it, and its target's components take its
// place. The end is a regular file the process may write, or a name that does not exist in a
// folder it may write. On failure the message is a sentence without the path, as
// OutputPathProblem returns it.
TResult<TOutputPlace> FindOutputPlace(const QString& path);

// Returns the failure of writing path: its message names the path and the system's reason
// (errno error), its explanation starts with outcome, what became of the file, and says what
// cures a full disk or a file-size limit.
TFailure WriteFailure(const QString& path, int error, const QString& outcome);
