#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Who is asking for a device, and whether the device lets them in.

// A user as the permission checks see them.
struct TIdentity {
  bool Process = true;         // the running process itself: the kernel decides access
  unsigned Uid = 0;
  QList<unsigned> SessionGroups;  // the groups this login session has
  QList<unsigned> AccountGroups;  // the groups the user database gives the user now
};

// Returns the running process's identity.
TIdentity CurrentIdentity();

// Why a device may not be opened for reading and writing.
enum class TAccess {
  Allowed,       // may be opened (or nothing is there: not a permission matter)
  JoinGroup,     // the device's group may, and the user is not in that group
  NewLogin,      // the user was added to the group after this session began
  GroupLacks,    // the device's group may not read and write it either
  Denied,        // refused for another reason (access lists, security modules)
};

struct TNodeAccess {
  TAccess Verdict = TAccess::Allowed;
  QString Group;  // the device's group by name ("dialout"), or its number
  QString Mode;   // its permissions as ls shows them ("rw-rw----")
};

// Checks whether who may open the device at hostPath for reading and writing.
TNodeAccess CheckAccess(const QString& hostPath, const TIdentity& who);

// What a scan of the devices looks at besides the device root. Tests stand in other users,
// process tables and lock folders.
struct TScanContext {
  TIdentity Who = CurrentIdentity();
  QString ProcDir = QStringLiteral("/proc");
  QStringList LockDirs = {QStringLiteral("/run/lock"), QStringLiteral("/var/lock")};
};
