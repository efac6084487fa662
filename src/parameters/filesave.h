#pragma once

#include <QByteArray>
#include <QString>

// Replaces the whole content of fileName with bytes and returns whether every step succeeded.
// The new content goes to a temporary file beside the old one, written unbuffered with every
// write checked, flushed to disk and renamed over it, keeping the old file's permissions (and
// its owner where allowed); a symbolic link keeps pointing to its target, which gets the new
// content. When no temporary file can be created there (a read-only folder) but the file itself
// is writable, the file is written in place: its new size is reserved first, so running out of
// space or over a size limit leaves it as it was. A file that is read-only or not a regular file
// is refused. On failure the old file is left byte for byte, short of a device error in the
// middle of an in-place write.
bool SaveFileContent(const QString& fileName, const QByteArray& bytes);

