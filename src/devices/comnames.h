#pragma once

#include <QString>
#include <QStringList>

#include "portname/portname.h"

// Port names "COMn" and the aliases that make them lead to a device: symbolic links in
// ${XDG_CONFIG_HOME:-~/.config}/zirv7tune/ports/COMn. A name without an alias leads to the
// legacy port /dev/ttyS<n-1>.

// The port names the tool offers: COM1 to COM32.
inline constexpr int kFirstCom = kFirstOfferedCom;
inline constexpr int kLastCom = kLastOfferedCom;

// Returns n for a port name "COMn" (ComNameNumber: n from 1, no leading zeros, at most six
// digits), else 0.
int ComNumber(const QString& name);

// Returns the folder of the aliases (PortAliasFolder), "" when there is none.
QString AliasFolder();

// Returns the alias path of a port name "COMn", "" when there is no alias folder.
QString AliasPath(const QString& com);

// Returns the names in the alias folder, none when there is no alias folder.
QStringList AliasFolderEntries();

// Where a port name leads.
struct TPortTarget {
  QString Name;    // as given: "COM3", or a device path starting with "/"
  QString Alias;   // the alias link it goes through, "" when none
  QString Device;  // where it leads as the user knows it: a path inside the device root
  QString Host;    // the path to open on this machine; "" for a name that leads nowhere
};

// Resolves a port name. An alias's absolute target is a path inside the device root; a
// dangling alias still counts (opening it fails rather than falling back to another
// device). A name starting with "/" is a path on this machine, used as it is.
TPortTarget ResolvePort(const QString& name);

// Makes com an alias of target (a path inside the device root), replacing the alias it had
// in one step. Returns "" on success, else why it could not; previous receives the old
// target ("" when there was none).
QString LinkComName(const QString& com, const QString& target, QString& previous);

// Removes the alias of com. Returns "" on success, else why not; previous receives the
// target it had.
QString UnlinkComName(const QString& com, QString& previous);
