#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

#include "devices/access.h"

// Which programs hold a serial device.

struct THolder {
  qint64 Pid = 0;
  QString Program;  // the process's name, "" when it cannot be read
  bool operator==(const THolder&) const = default;
};

// Returns the programs that hold the device exclusively: a lock on it in the kernel's lock
// table (flock, as this tool takes) or a UUCP lock file LCK..<ttyName> naming a live process.
QList<THolder> LockHolders(const QString& hostPath, const QString& ttyName, const TScanContext& context);

// Returns the programs that have the device open, from their open file descriptors.
QList<THolder> OpenHolders(const QString& hostPath, const TScanContext& context);

// What a look for the other programs that hold a device found.
struct THolderScan {
  QList<THolder> Holders;  // the programs that hold it, besides the one looking
  int Unchecked = 0;       // processes whose descriptors could not be read (other users')
};

// Returns the programs that hold the device besides the caller, who has just opened it on
// ownFd (-1: the caller holds it on no descriptor) and locked it: a lock on it (LockHolders)
// or an open descriptor. Left out are the caller's descriptor ownFd and its own lock and, for
// a pseudo-terminal, every process that holds its master side (the simulated board, a
// terminal emulator): the other end of the line is no second reader. Processes whose
// descriptors cannot be read are counted, not guessed at; kernel threads hold no files.
THolderScan OtherHolders(const QString& hostPath, const QString& ttyName, int ownFd,
                         const TScanContext& context);

// Returns "minicom (PID 4242)", several joined by ", ".
QString HoldersText(const QList<THolder>& holders);

// Returns when the process started, read from the process table of context (its start in clock
// ticks after boot, and the boot time); nothing when either cannot be read.
std::optional<QDateTime> ProcessStartTime(qint64 pid, const TScanContext& context = {});
