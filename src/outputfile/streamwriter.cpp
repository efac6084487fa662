#include "outputfile/streamwriter.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "outputfile/outputplace.h"

TStreamWriter::TStreamWriter(QString path, TFd fd, qint64 size)
    : FPath(std::move(path)), FFd(std::move(fd)), FSize(size) {}

TResult<TStreamWriter> TStreamWriter::Open(const QString& path) {
  const TResult<TOutputPlace> place = FindOutputPlace(path);
  if (!place) return TFailure{path + QStringLiteral(": ") + place.Failure().Message, {}};
  // Not following a link nor waiting for a FIFO put at the name since the walk looked at it.
  TFd fd(::openat(place->Folder.Get(), place->Name.constData(),
                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0)
    return WriteFailure(path, errno, QStringLiteral("Nothing was written."));
  if (!S_ISREG(st.st_mode)) return WriteFailure(path, EINVAL, QStringLiteral("Nothing was written."));
  return TStreamWriter(path, std::move(fd), qint64(st.st_size));
}

TResult<void> TStreamWriter::Fail(int error) {
  FFailure = WriteFailure(FPath, error, QStringLiteral("The file keeps what was written before."));
  return *FFailure;
}

TResult<void> TStreamWriter::Write(QByteArrayView bytes) {
  if (FFailure) return *FFailure;
  if (const int error = WriteAll(FFd.Get(), bytes)) {
    // The part that went in is taken off again: the file ends with the last whole record.
    [[maybe_unused]] const int cut = ::ftruncate(FFd.Get(), off_t(FSize));
    return Fail(error);
  }
  FSize += bytes.size();
  return {};
}

TResult<void> TStreamWriter::Close() {
  if (!FFd.Valid()) return FFailure ? TResult<void>(*FFailure) : TResult<void>();
  const int synced = ::fdatasync(FFd.Get()) == 0 ? 0 : errno;
  const int closed = FFd.Close();
  if (FFailure) return *FFailure;
  if (synced != 0 || closed != 0) return Fail(synced != 0 ? synced : closed);
  return {};
}
