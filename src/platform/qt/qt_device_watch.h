// Serial devices coming and going, as udev, a watch on folders or (where neither serves) a
// look at /dev once a second reports them.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>
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

  std::vector<std::string> paths_;
  // path -> the device node it leads to and when that was made; "" while absent
  std::map<std::string, std::string> targets_;
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
