#pragma once

// Runs zirv7ctl in-process with its output captured, as a test reads it.

#include <QString>
#include <QStringList>
#include <QTextStream>

#include "ctl/command.h"

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
