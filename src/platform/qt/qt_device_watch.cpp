#include "platform/qt/qt_device_watch.h"

#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include "platform/qt/qt_serial_port.h"

namespace velmora {
namespace {

// The nearest folder on the way to path that exists: a /dev/serial/by-id/ folder appears
// only with the first adapter.
QString ExistingFolder(const QString& path) {
  QDir dir = QFileInfo(path).dir();
  while (!dir.exists() && !dir.isRoot())
    if (!dir.cdUp()) break;
  return dir.absolutePath();
}

}  // namespace

QtDeviceWatch::Target QtDeviceWatch::TargetOf(const std::string& path) {
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) return {};
  return {QFileInfo(QString::fromStdString(path)).canonicalFilePath().toStdString(),
          std::int64_t{node.st_ctim.tv_sec} * 1'000'000'000 + node.st_ctim.tv_nsec};
}

QtDeviceWatch::QtDeviceWatch(QObject* parent) : QObject(parent) {
  probe_.onAnswered = [this](const std::string& address) {
    if (onAppeared) onAppeared({address, {}});
  };
  rescan_.setInterval(1000);
  connect(&folders_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (paths_.empty()) return Rescan();
    WatchFolders();
    CheckPaths();
  });
}

QtDeviceWatch::~QtDeviceWatch() {
  delete notifier_;
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

void QtDeviceWatch::Watch(const std::vector<std::string>& paths) {
  paths_ = paths;
  if (!paths_.empty()) {
    for (const auto& path : paths_) targets_[path] = TargetOf(path);
    WatchFolders();
    if (!folders_.directories().isEmpty()) {
      how_ = "folders";
      return;
    }
    how_ = "rescan";
    connect(&rescan_, &QTimer::timeout, this, [this] { CheckPaths(); });
    rescan_.start();
    return;
  }
  if (StartUdev()) {
    how_ = "udev";
    return;
  }
  // Without udev the kernel still makes and removes the nodes in /dev. Asking the system for
  // its serial ports costs about 20 ms, so only a change of /dev's tty names asks.
  for (const auto& port : SystemSerialPorts()) system_[port.device] = {port.device, {}};
  ttyNames_ = TtyNames();
  if (folders_.addPath("/dev")) {
    how_ = "folders";
    return;
  }
  how_ = "rescan";
  connect(&rescan_, &QTimer::timeout, this, [this] { Rescan(); });
  rescan_.start();
}

// The folders of the paths, and of what they lead to (a link's pseudo-terminal may go away
// while the link stays).
void QtDeviceWatch::WatchFolders() {
  QStringList wanted;
  for (const auto& [path, target] : targets_) {
    wanted << ExistingFolder(QString::fromStdString(path));
    if (!target.empty()) wanted << ExistingFolder(QString::fromStdString(target.node));
  }
  wanted.removeDuplicates();
  QStringList stale;
  for (const QString& folder : folders_.directories())
    if (!wanted.contains(folder)) stale << folder;
  if (!stale.isEmpty()) folders_.removePaths(stale);
  QStringList fresh;
  for (const QString& folder : wanted)
    if (!folders_.directories().contains(folder)) fresh << folder;
  if (!fresh.isEmpty()) folders_.addPaths(fresh);
}

// A path that now leads elsewhere (a simulated card replugged on a new pseudo-terminal) is
// a device that went and came back.
void QtDeviceWatch::CheckPaths() {
  for (auto& [path, target] : targets_) {
    const Target now = TargetOf(path);
    if (now == target) continue;
    const Target was = std::exchange(target, now);
    if (!was.empty() && onDisappeared) onDisappeared({path, {}});
    if (!now.empty() && onAppeared) onAppeared({path, {}});
  }
}

// udev's monitor costs nothing while nothing happens; only where udev runs does it report.
bool QtDeviceWatch::StartUdev() {
  if (::access("/run/udev/control", F_OK) != 0) return false;
  udev_ = udev_new();
  if (!udev_) return false;
  monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  if (!monitor_ || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0)
    return false;
  notifier_ = new QSocketNotifier(udev_monitor_get_fd(monitor_), QSocketNotifier::Read);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { OnUdev(); });
  return true;
}

void QtDeviceWatch::OnUdev() {
  udev_device* device = udev_monitor_receive_device(monitor_);
  if (!device) return;
  const char* action = udev_device_get_action(device);
  const char* node = udev_device_get_devnode(device);
  const char* syspath = udev_device_get_syspath(device);
  // Virtual consoles and pseudo-terminals are no serial ports.
  const bool port = node && syspath && std::string(syspath).find("/virtual/") == std::string::npos;
  DeviceInfo info{node ? node : "", {}};
  udev_list_entry* link = nullptr;
  udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(device)) {
    const std::string name = udev_list_entry_get_name(link);
    if (name.starts_with("/dev/serial/by-id/")) info.id = name;
  }
  const std::string what = action ? action : "";
  udev_device_unref(device);
  if (!port) return;
  if (what == "add" && onAppeared) onAppeared(info);
  if (what == "remove" && onDisappeared) onDisappeared(info);
}

QStringList QtDeviceWatch::TtyNames() {
  return QDir("/dev").entryList({"tty*"}, QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

void QtDeviceWatch::Rescan() {
  QStringList names = TtyNames();
  if (names == ttyNames_) return;
  ttyNames_ = std::move(names);
  std::map<std::string, DeviceInfo> now;
  for (const auto& port : SystemSerialPorts()) now[port.device] = {port.device, {}};
  for (const auto& [path, info] : system_)
    if (!now.count(path) && onDisappeared) onDisappeared(info);
  for (const auto& [path, info] : now)
    if (!system_.count(path) && onAppeared) onAppeared(info);
  system_ = std::move(now);
}

}  // namespace velmora
