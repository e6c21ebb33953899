// Serial devices coming and going, as udev, a watch on folders or (where neither serves) a
// look at /dev once a second reports them.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/device_watch.h"
#include "platform/qt/qt_network_port.h"

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace velmora {

class QtDeviceWatch : public QObject, public DeviceWatch {
  Q_OBJECT
 public:
  explicit QtDeviceWatch(QObject* parent = nullptr);
  ~QtDeviceWatch() override;

  void Watch(const std::vector<std::string>& paths) override;
  void Probe(const std::string& path) override { probe_.Start(path); }
  void StopProbing() override { probe_.Stop(); }
  // How changes are noticed: "udev", "folders" or "rescan".
  std::string How() const { return how_; }

 private:
  void WatchFolders();
  void CheckPaths();
  bool StartUdev();
  void OnUdev();
  void Rescan();
  static QStringList TtyNames();

  // The device node a path leads to and when that node was made: a pseudo-terminal closed and
  // opened again may get the same name back, but never the same node. Empty while absent.
  struct Target {
    std::string node;
    std::int64_t madeNs = 0;
    bool operator==(const Target&) const = default;
    bool empty() const { return node.empty(); }
  };
  static Target TargetOf(const std::string& path);

  std::vector<std::string> paths_;
  std::map<std::string, Target> targets_;     // path -> what it leads to
  std::map<std::string, DeviceInfo> system_;  // device path -> device, without udev
  QStringList ttyNames_;                      // /dev/tty*, when the system's ports were asked
  QFileSystemWatcher folders_;
  QTimer rescan_;
  ::udev* udev_ = nullptr;
  ::udev_monitor* monitor_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
  std::string how_;
  QtServerProbe probe_;
};

}  // namespace velmora
