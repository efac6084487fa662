#pragma once

#include <QByteArrayView>
#include <QString>
#include <optional>

#include "globals/filesave.h"
#include "globals/result.h"

// Output appended in place, one record after another (a log that `tail -f` follows), to a path
// checked and followed as the whole-file writer follows it (FindOutputPlace). A failed write
// (a full disk, a file-size limit) is cut off again, so that the file keeps every record
// written before it whole, and is reported to the caller, who fails.
class TStreamWriter {
 public:
  // Opens path for appending, creating it when it does not exist; what the file holds stays.
  static TResult<TStreamWriter> Open(const QString& path);

  // Appends bytes whole or not at all. After a failure every later call returns that first
  // failure and writes nothing.
  TResult<void> Write(QByteArrayView bytes);

  // Flushes what was written to disk and closes the file; returns the first failure, of a write
  // or of the flush.
  TResult<void> Close();

 private:
  TStreamWriter(QString path, TFd fd, qint64 size);
  TResult<void> Fail(int error);

  QString FPath;
  TFd FFd;
  qint64 FSize;  // the bytes the file holds: what it held and the records written whole
  std::optional<TFailure> FFailure;
};
