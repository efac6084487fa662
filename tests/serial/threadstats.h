#pragma once

// What the kernel tells about the port's event threads, for tests and benchmarks.

#include <QDir>
#include <QFile>
#include <QList>

inline QByteArray ThreadFile(int tid, const char* name) {
  QFile file(QStringLiteral("/proc/self/task/%1/%2").arg(tid).arg(QLatin1String(name)));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Returns the ids of this process's event threads.
inline QList<int> EventThreads() {
  QList<int> ids;
  for (const QString& tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
    if (ThreadFile(tid.toInt(), "comm") == "TComThread\n") ids << tid.toInt();
  }
  return ids;
}

// Returns how often a thread has gone to sleep: each wake-up ends in one more.
inline qint64 Sleeps(int tid) {
  const QByteArray status = ThreadFile(tid, "status");
  const QByteArray key("\nvoluntary_ctxt_switches:");
  const qsizetype at = status.indexOf(key);
  return at < 0 ? -1 : status.mid(at + key.size()).split('\n').first().trimmed().toLongLong();
}
