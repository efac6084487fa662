#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

// Tells when serial devices or port aliases may have come or gone, without polling: the
// kernel reports changes to /dev, /dev/serial/by-id and the alias folder (inotify), and a
// burst of them becomes one Changed().
class TDeviceWatcher : public QObject {
  Q_OBJECT

 public:
  // Starts watching the folders that exist now; folders that appear later join then.
  explicit TDeviceWatcher(QObject* parent = nullptr);

 signals:
  // Emitted once a burst of changes has settled.
  void Changed();

 private:
  void Arm();
  void OnFolderChanged();

  QFileSystemWatcher FWatcher;
  QTimer FSettle;
};
