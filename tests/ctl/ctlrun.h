#pragma once

// Runs zirv7ctl in-process with its output captured, as a test reads it.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include "ctl/command.h"

// Returns what a file the command wrote holds ("" when it cannot be read).
inline QByteArray Contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes a file for a command to read or replace.
inline void Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(bytes);
}

struct TCtlResult {
  int Status = -1;
  QString Out;
  QString Err;
};

// Runs "zirv7ctl <args...>" with the given text as its standard input.
inline TCtlResult RunCtlCaptured(const QStringList& args, QString input = {}) {
  TCtlResult result;
  QTextStream out(&result.Out);
  QTextStream err(&result.Err);
  QTextStream in(&input);
  TCtlIo io{out, err, in};
  result.Status = RunCtl(QStringList{QStringLiteral("zirv7ctl")} + args, io);
  out.flush();
  err.flush();
  return result;
}
