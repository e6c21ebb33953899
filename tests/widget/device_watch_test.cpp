// The Qt device watch on real folders: a pseudo-terminal's link two folders deep whose folders
// are made, removed and made again as udev does for an adapter's by-id link; and, without udev,
// a folder of device nodes where a device is replugged under its old name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "platform/qt/io/qt_device_watch.h"

namespace velmora {
namespace {

// What a watch reports, checked step by step.
struct Seen {
  explicit Seen(DeviceWatch& watch) {
    watch.onAppeared = [this](const DeviceInfo& d) { seen.push_back("+" + d.path); };
    watch.onDisappeared = [this](const DeviceInfo& d) { seen.push_back("-" + d.path); };
  }
  // What the step reports, and nothing more.
  void Expect(const char* step, const std::vector<std::string>& reported) {
    (void)QTest::qWaitFor([&] { return seen.size() >= reported.size(); }, 5000);
    QTest::qWait(50);  // nothing more comes
    EXPECT_EQ(seen, reported) << step;
    seen.clear();
  }
  std::vector<std::string> seen;
};

// A pseudo-terminal, as the simulated card makes one.
struct Pty {
  Pty() { ::openpty(&master, &slave, name, nullptr, nullptr); }
  ~Pty() { ::close(master), ::close(slave); }
  int master = -1, slave = -1;
  char name[64] = {};
};

TEST(QtDeviceWatch, FollowsALinkWhoseFoldersComeAndGo) {
  QTemporaryDir dir;
  const std::string serial = dir.path().toStdString() + "/serial", link = serial + "/by-id/card";
  const QString folder = QString::fromStdString(serial + "/by-id");
  QDir().mkpath(folder);  // as an adapter plugged in before leaves them
  QtDeviceWatch watch;
  Seen seen(watch);
  watch.Watch({link}, {});
  EXPECT_EQ(watch.How(), "folders");

  Pty one, two;
  for (const char* round : {"first", "again"}) {
    SCOPED_TRACE(round);
    QDir().mkpath(folder);
    ASSERT_EQ(::symlink(one.name, link.c_str()), 0);
    seen.Expect("the folders and the link appear", {"+" + link});
    ASSERT_EQ(::symlink(two.name, (link + ".new").c_str()), 0);
    ASSERT_EQ(::rename((link + ".new").c_str(), link.c_str()), 0);
    seen.Expect("the link is pointed at another device", {"-" + link, "+" + link});
    // As udev does when the adapter is pulled: the link, then the emptied folders.
    ::unlink(link.c_str());
    QDir().rmdir(folder);
    QDir().rmdir(QString::fromStdString(serial));
    seen.Expect("the link and its folders go", {"-" + link});
  }
}

TEST(QtDeviceWatch, WithoutUdevSeesDevicesPluggedDuringStartUpAndAQuickReplug) {
  QTemporaryDir dir;
  const std::string dev = dir.path().toStdString(), one = dev + "/ttyUSB0", two = dev + "/ttyUSB1";
  const auto plug = [](const std::string& path) { std::ofstream(path) << ""; };
  plug(one);
  plug(two);
  const auto list = [&] {
    std::vector<std::string> devices;
    for (const auto& path : {one, two})
      if (QFileInfo::exists(QString::fromStdString(path))) devices.push_back(path);
    return devices;
  };
  QtDeviceWatch watch(nullptr, {dev, list, false});
  Seen seen(watch);
  watch.Watch({}, {one});  // the scan found ttyUSB0; ttyUSB1 came before the watch began
  EXPECT_EQ(watch.How(), "folders");
  seen.Expect("a device plugged while the console started", {"+" + two});
  // Held open, the old node keeps its inode number from the new one.
  const int held = ::open(one.c_str(), O_RDONLY);
  ::unlink(one.c_str());
  plug(one);
  ::close(held);
  seen.Expect("a device pulled and plugged back under its name", {"-" + one, "+" + one});
}

}  // namespace
}  // namespace velmora
