// The Qt device watch on the paths of an explicit port table: a link that appears (in a folder
// that does not exist yet), is pointed at another device, and goes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "platform/qt/qt_device_watch.h"

namespace velmora {
namespace {

TEST(QtDeviceWatch, ReportsALinkAppearingRepointedAndGone) {
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  const std::string folder = root + "/by-id", link = folder + "/card";
  for (const char* device : {"/tty1", "/tty2"}) std::ofstream(root + device) << "";
  QtDeviceWatch watch;
  std::vector<std::string> seen;
  watch.onAppeared = [&](const DeviceInfo& d) { seen.push_back("+" + d.path); };
  watch.onDisappeared = [&](const DeviceInfo& d) { seen.push_back("-" + d.path); };
  watch.Watch({link});
  EXPECT_EQ(watch.How(), "folders");

  // What each step reports, and nothing more.
  const auto expect = [&](const char* step, const std::vector<std::string>& reported) {
    (void)QTest::qWaitFor([&] { return seen.size() >= reported.size(); }, 5000);
    QTest::qWait(50);  // nothing more comes
    EXPECT_EQ(seen, reported) << step;
    seen.clear();
  };
  QDir().mkpath(QString::fromStdString(folder));
  ASSERT_EQ(::symlink((root + "/tty1").c_str(), link.c_str()), 0);
  expect("the folder and the link appear", {"+" + link});
  ASSERT_EQ(::symlink((root + "/tty2").c_str(), (link + ".new").c_str()), 0);
  ASSERT_EQ(::rename((link + ".new").c_str(), link.c_str()), 0);
  expect("the link is pointed at another device", {"-" + link, "+" + link});
  ::unlink(link.c_str());
  expect("the link goes", {"-" + link});
}

}  // namespace
}  // namespace velmora
