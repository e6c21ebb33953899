// Serial devices coming and going, as udev, a watch on folders or (where neither serves) a
// look at /dev once a second reports them.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_events.h"
#include "platform/device_watch.h"
#include "platform/qt/io/qt_network_port.h"
#include "serial/port_table.h"

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace velmora {

// Where the system's serial devices are when udev does not report them: tests give a folder of
// their own.
struct SystemDevices {
  std::string folder = "/dev";
  std::function<std::vector<std::string>()> list;  // the serial devices; none: the system's
  bool udev = true;
};

class QtDeviceWatch : public QObject, public DeviceWatch {
  Q_OBJECT
 public:
  explicit QtDeviceWatch(QObject* parent = nullptr, SystemDevices system = {});
  ~QtDeviceWatch() override;

  void Watch(const std::vector<std::string>& paths,
             const std::vector<std::string>& present) override;
  void Probe(const std::string& path) override { probe_.Start(path); }
  void StopProbing() override { probe_.Stop(); }
  // The console's start-up scan of the serial ports, kept as the watch's first look: the look
  // once the window's loop runs asks the system again only when a tty node changed meanwhile.
  std::vector<SystemPort> ScanAtStart();
  // How changes are noticed: "udev", "folders", "udev and folders" or "rescan".
  std::string How() const { return how_; }

 private:
  void WatchFolders();
  void CheckPaths(bool all);
  bool StartUdev();
  void OnUdev();
  void Rescan();

  // The device node a path leads to, which node that is and when it was made: a device pulled
  // and plugged back, or a pseudo-terminal closed and opened again, may get the same name back,
  // but never the same node. Empty while absent.
  struct Target {
    std::string node;
    std::uint64_t inode = 0;
    std::int64_t madeNs = 0;
    bool operator==(const Target&) const = default;
    bool empty() const { return node.empty(); }
  };
  static Target TargetOf(const std::string& path);
  // What the console counts as there: as it is now, or (gone meanwhile) a stand-in that differs.
  static Target Baseline(const std::string& path, bool present);
  std::map<std::string, Target> Ttys() const;

  struct Watched {
    Target target;      // what it leads to
    bool udev = false;  // followed through udev's events, not through its folders
  };
  std::map<std::string, Watched> paths_;
  SystemDevices system_;
  std::map<std::string, Target> devices_;  // the system's devices -> their nodes, without udev
  std::map<std::string, Target> ttys_;     // tty* of the device folder, when devices_ was made
  std::optional<DeviceEvents> events_;
  QFileSystemWatcher folders_;
  QTimer rescan_;
  ::udev* udev_ = nullptr;
  ::udev_monitor* monitor_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
  std::string how_;
  QtServerProbe probe_;
};

}  // namespace velmora
