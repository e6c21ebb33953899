#include "platform/qt/io/qt_device_watch.h"

#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <filesystem>
#include <utility>

#include "platform/qt/io/qt_serial_port.h"

namespace velmora {
namespace {

// The nearest folder on the way to path that exists, found by cutting the path as text: a
// /dev/serial/by-id/ folder exists only while an adapter is plugged in, and a folder that is
// gone cannot be left by going up from it.
QString ExistingFolder(const std::string& path) {
  std::string folder = QFileInfo(QString::fromStdString(path)).absoluteFilePath().toStdString();
  do {
    folder.resize(std::max<std::size_t>(folder.find_last_of('/'), 1));
  } while (folder != "/" && !QFileInfo(QString::fromStdString(folder)).isDir());
  return QString::fromStdString(folder);
}

// Where a chain of links ends, followed as text: also while its end does not exist (a link
// left by a pseudo-terminal that was closed and may be opened again).
std::string LinkEnd(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path at = fs::absolute(path, ec);
  for (int hops = 0; hops < 40 && fs::is_symlink(at, ec); ++hops) {
    const fs::path to = fs::read_symlink(at, ec);
    if (ec) break;
    at = (to.is_absolute() ? to : at.parent_path() / to).lexically_normal();
  }
  return at.string();
}

}  // namespace

QtDeviceWatch::Target QtDeviceWatch::TargetOf(const std::string& path) {
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0) return {};
  return {QFileInfo(QString::fromStdString(path)).canonicalFilePath().toStdString(), node.st_ino,
          std::int64_t{node.st_ctim.tv_sec} * 1'000'000'000 + node.st_ctim.tv_nsec};
}

QtDeviceWatch::Target QtDeviceWatch::Baseline(const std::string& path, bool present) {
  if (!present) return {};
  const Target now = TargetOf(path);
  return now.empty() ? Target{path} : now;
}

QtDeviceWatch::QtDeviceWatch(QObject* parent, SystemDevices system)
    : QObject(parent), system_(std::move(system)) {
  if (!system_.list)
    system_.list = [] {
      std::vector<std::string> devices;
      for (const auto& port : SystemSerialPorts()) devices.push_back(port.device);
      return devices;
    };
  probe_.onAnswered = [this](const std::string& address) {
    if (onAppeared) onAppeared({address, {}, {}});
  };
  rescan_.setInterval(1000);
  connect(&folders_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (paths_.empty()) return Rescan();
    WatchFolders();
    CheckPaths(false);
  });
}

QtDeviceWatch::~QtDeviceWatch() {
  delete notifier_;
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
}

void QtDeviceWatch::Watch(const std::vector<std::string>& paths,
                          const std::vector<std::string>& present) {
  const auto listed = [&present](const std::string& path) {
    return std::find(present.begin(), present.end(), path) != present.end();
  };
  // Where udev runs, a device under /dev is followed through it: its by-id and by-path links
  // are udev's own, made and removed with their folders around the node.
  const bool underDev = std::any_of(paths.begin(), paths.end(),
                                    [](const std::string& p) { return p.starts_with("/dev/"); });
  const bool udev = system_.udev && (paths.empty() || underDev) && StartUdev();
  // Watching anew (the engineer saved another port table) starts from the new paths alone.
  paths_.clear();
  rescan_.stop();
  disconnect(&rescan_, &QTimer::timeout, this, nullptr);
  if (paths.empty()) {
    for (const auto& path : present) devices_[path] = Baseline(path, true);
    // What came or went while the console started is told once its window's loop runs.
    QTimer::singleShot(0, this, [this] { Rescan(); });
    if (udev) {
      events_.emplace();
      how_ = "udev";
    } else if (folders_.addPath(QString::fromStdString(system_.folder))) {
      how_ = "folders";
    } else {
      how_ = "rescan";
      connect(&rescan_, &QTimer::timeout, this, [this] { Rescan(); });
      rescan_.start();
    }
    return;
  }
  std::map<std::string, std::string> followed;
  for (const auto& path : paths) {
    const bool viaUdev = udev && path.starts_with("/dev/");
    paths_[path] = {Baseline(path, listed(path)), viaUdev};
    if (viaUdev) followed[path] = TargetOf(path).node;
  }
  if (!followed.empty()) events_.emplace(followed);
  QTimer::singleShot(0, this, [this] { CheckPaths(true); });
  WatchFolders();
  const bool watched = !folders_.directories().isEmpty();
  how_ = followed.empty() ? "folders" : watched ? "udev and folders" : "udev";
  if (watched || followed.size() == paths_.size()) return;
  how_ = "rescan";
  connect(&rescan_, &QTimer::timeout, this, [this] { CheckPaths(false); });
  rescan_.start();
}

// The folders of the paths, and of what they lead to (a link's pseudo-terminal may go away
// while the link stays). A folder made or removed while the watch moves is seen by looking
// again until nothing changes.
void QtDeviceWatch::WatchFolders() {
  for (int round = 0; round < 8; ++round) {
    QStringList wanted;
    for (const auto& [path, watched] : paths_) {
      if (watched.udev) continue;
      wanted << ExistingFolder(path);
      if (const std::string end = LinkEnd(path); end != path) wanted << ExistingFolder(end);
    }
    wanted.removeDuplicates();
    QStringList stale, fresh;
    for (const QString& folder : folders_.directories())
      if (!wanted.contains(folder)) stale << folder;
    for (const QString& folder : wanted)
      if (!folders_.directories().contains(folder)) fresh << folder;
    if (stale.isEmpty() && fresh.isEmpty()) return;
    if (!stale.isEmpty()) folders_.removePaths(stale);
    if (!fresh.isEmpty()) folders_.addPaths(fresh);
  }
}

// A path that now leads elsewhere (a simulated card replugged on a new pseudo-terminal) is
// a device that went and came back. Paths udev follows are looked at only once, at the start.
void QtDeviceWatch::CheckPaths(bool all) {
  for (auto& [path, watched] : paths_) {
    if (watched.udev && !all) continue;
    const Target now = TargetOf(path);
    if (now == watched.target) continue;
    const Target was = std::exchange(watched.target, now);
    if (!was.empty() && onDisappeared) onDisappeared({path, {}, {}});
    if (!now.empty() && onAppeared) onAppeared({path, {}, {}});
  }
}

// udev's monitor costs nothing while nothing happens; only where udev runs does it report.
bool QtDeviceWatch::StartUdev() {
  if (monitor_ && notifier_) return true;  // already listening
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
  const auto property = [device](const char* key) {
    const char* value = udev_device_get_property_value(device, key);
    return std::string(value ? value : "");
  };
  DeviceEvent event{std::string(action ? action : "") == "add",
                    node ? node : "",
                    {},
                    property("ID_PATH"),
                    !property("ID_SERIAL_SHORT").empty()};
  udev_list_entry* link = nullptr;
  udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(device)) {
    event.links.push_back(udev_list_entry_get_name(link));
  }
  const bool change = action && (event.added || std::string(action) == "remove");
  udev_device_unref(device);
  if (!port || !change || !events_) return;
  for (const auto& [appeared, info] : events_->Take(event)) {
    const auto& report = appeared ? onAppeared : onDisappeared;
    if (report) report(info);
  }
}

std::vector<SystemPort> QtDeviceWatch::ScanAtStart() {
  // The nodes first: one made while the system lists its ports is then seen as a change.
  ttys_ = Ttys();
  std::vector<SystemPort> ports = SystemSerialPorts();
  for (const auto& port : ports) devices_[port.device] = TargetOf(port.device);
  return ports;
}

std::map<std::string, QtDeviceWatch::Target> QtDeviceWatch::Ttys() const {
  std::map<std::string, Target> ttys;
  const QString folder = QString::fromStdString(system_.folder);
  for (const QString& name :
       QDir(folder).entryList({"tty*"}, QDir::System | QDir::Files | QDir::NoDotAndDotDot))
    ttys[name.toStdString()] = TargetOf((folder + "/" + name).toStdString());
  return ttys;
}

// Asking the system for its serial ports costs about 20 ms, so only a change among the tty
// nodes asks: a name made or removed, or a node replaced under its old name.
void QtDeviceWatch::Rescan() {
  auto ttys = Ttys();
  if (ttys == ttys_) return;
  ttys_ = std::move(ttys);
  std::map<std::string, Target> now;
  for (const auto& path : system_.list()) now[path] = TargetOf(path);
  for (const auto& [path, target] : devices_) {
    const auto it = now.find(path);
    if ((it == now.end() || it->second != target) && onDisappeared) onDisappeared({path, {}, {}});
  }
  for (const auto& [path, target] : now) {
    const auto it = devices_.find(path);
    if ((it == devices_.end() || it->second != target) && onAppeared) onAppeared({path, {}, {}});
  }
  devices_ = std::move(now);
}

}  // namespace velmora
