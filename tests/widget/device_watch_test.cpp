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

  struct Step {
    const char* name;
    std::function<void()> act;
    std::vector<std::string> reported;
  } steps[] = {
      {"the folder and the link appear",
       [&] {
         QDir().mkpath(QString::fromStdString(folder));
         ASSERT_EQ(::symlink((root + "/tty1").c_str(), link.c_str()), 0);
       },
       {"+" + link}},
      {"the link is pointed at another device",
       [&] {
         ASSERT_EQ(::symlink((root + "/tty2").c_str(), (link + ".new").c_str()), 0);
         ASSERT_EQ(::rename((link + ".new").c_str(), link.c_str()), 0);
       },
       {"-" + link, "+" + link}},
      {"the link goes", [&] { ::unlink(link.c_str()); }, {"-" + link}},
  };
  for (const auto& step : steps) {
    seen.clear();
    step.act();
    (void)QTest::qWaitFor([&] { return seen.size() >= step.reported.size(); }, 5000);
    QTest::qWait(50);  // nothing more comes
    EXPECT_EQ(seen, step.reported) << step.name;
  }
}

}  // namespace
}  // namespace velmora
