#include "ctl/comarg.h"

#include "devices/comtargets.h"
#include "devices/serialdevices.h"

QString AliasInUseProblem(const QString& com, const QString& change, const QString& keptTarget) {
  const TPortTarget current = ResolvePort(com);
  if (current.Alias.isEmpty() || current.Device == keptTarget) return QString();
  const QList<THolder> holders = TargetHolders(current);
  if (holders.isEmpty()) return QString();
  return QStringLiteral("leads to %1, which %2 holds now; %3 %4 would take the port from "
                        "under it. Close it there first, or use --force.")
      .arg(current.Device, HoldersText(holders), change, com);
}
