#include "devices/devicewatcher.h"

#include <QFileInfo>

#include "devices/comnames.h"
#include "devices/deviceroot.h"

namespace {

// udev makes the node first and the by-id link a moment later; one refresh covers both.
constexpr int kSettleMs = 150;

// Returns the deepest folder of the chain that exists: the folder itself once it does, else
// the one above it, where its creation will show; "" for no folder.
QString DeepestExisting(QString folder, int levels) {
  if (folder.isEmpty()) return {};
  for (int i = 0; i < levels && !QFileInfo(folder).isDir(); ++i) folder = QFileInfo(folder).path();
  return QFileInfo(folder).isDir() ? folder : QString();
}

}  // namespace

// Watches /dev (nodes come and go), the by-id folder and the alias folder, or the nearest
// existing folder above each of those two until they appear.
void TDeviceWatcher::Arm() {
  QStringList wanted = {HostPath(QStringLiteral("/dev")),
                        DeepestExisting(HostPath(QStringLiteral("/dev/serial/by-id")), 2),
                        DeepestExisting(AliasFolder(), 2)};
  wanted.removeAll(QString());
  wanted.removeDuplicates();
  for (const QString& folder : FWatcher.directories())
    if (!wanted.contains(folder)) FWatcher.removePath(folder);
  const QStringList watched = FWatcher.directories();
  for (const QString& folder : wanted)
    if (!watched.contains(folder)) FWatcher.addPath(folder);
}

TDeviceWatcher::TDeviceWatcher(QObject* parent) : QObject(parent) {
  FSettle.setSingleShot(true);
  FSettle.setInterval(kSettleMs);
  connect(&FSettle, &QTimer::timeout, this, &TDeviceWatcher::Changed);
  connect(&FWatcher, &QFileSystemWatcher::directoryChanged, this, &TDeviceWatcher::OnFolderChanged);
  Arm();
}

void TDeviceWatcher::OnFolderChanged() {
  Arm();
  FSettle.start();
}

#include "moc_devicewatcher.cpp"
