// The console's files on a real disk: a program file rewritten between its check and its
// transfer, and a CSV export onto a disk that fills up.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/lifecycle.h"
#include "platform/qt/io/qt_platform.h"
#include "support/fakes.h"
#include "trends/recording.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class RealFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.port.SetPort(1, FakeSerialPort::Availability::Free);
    Form_Load(c);
    c.ui.CommPortSelect.UserChoose(1);
  }

  QTemporaryDir dir;
  FakePlatform fake;
  QtFiles files;
  Console c{Platform{fake.port, fake.transmitTimer, fake.downloadTimer, files, fake.chooser,
                     fake.messages, fake.pump}};
};

TEST_F(RealFilesTest, TheCardGetsTheProgramAsCheckedThoughTheFileIsRewrittenBeforeTheTransfer) {
  const std::string path = dir.filePath("prog.hex").toStdString(), checked = IntelHex(3500);
  std::ofstream(path, std::ios::binary) << checked;
  fake.port.Feed("Line Card Application Initialized\r\n");
  fake.chooser.answers.push_back(ChosenFile{path, "prog.hex"});
  c.ui.DownloadButton.UserClick();
  fake.port.Feed("Boot Loader Ready\r\n");
  // A build rewrites the file while the card restarts: half a program.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << checked.substr(0, 2000) << "\r\n";
  fake.port.writes.clear();
  fake.port.Feed("Boot Loader Stopped\r\n");
  for (int i = 0; i < 3; ++i) fake.port.RaiseSend();
  std::string sent;
  for (const std::string& w : fake.port.writes) sent += w;
  EXPECT_EQ(sent, checked);
  EXPECT_EQ(c.ui.DownloadStatus.Text(), "Flashing prog.hex ...");
  EXPECT_EQ(fake.messages.shown.size(), 0u);
}

TEST_F(RealFilesTest, AnExportOntoAFullDiskLeavesTheOldFileWholeAndSaysWhy) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
  const std::string disk = dir.filePath("disk").toStdString();
  fs::create_directory(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (no CAP_SYS_ADMIN?)";
  const struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{disk};
  const std::string csv = disk + "/trends.csv", old = "an export kept from yesterday\r\n";
  std::ofstream(csv, std::ios::binary) << old;
  for (std::ofstream filler(disk + "/filler"); filler << std::string(4096, 'x') << std::flush;) {
  }
  // More rows than the old file's own page of the disk could take.
  for (int i = 0; i < 300; ++i) c.trends.Mark(ProgramType::LineCardApp, Quantity::Temperature, i);
  ASSERT_GT(TrendsCsv(c.trends).size(), 3 * 4096u);
  fake.chooser.answers = {ChosenFile{csv, "trends.csv"}, ChosenFile{csv, "trends.csv"}};
  ExportCsv_Click(c);
  EXPECT_EQ(Slurp(csv), old);
  EXPECT_EQ(fake.messages.shown,
            std::vector<std::string>{"Cannot write " + csv + ": No space left on device"});
  // With room again the export replaces the file whole, and leaves nothing else behind.
  fs::remove(disk + "/filler");
  ExportCsv_Click(c);
  EXPECT_EQ(Slurp(csv), TrendsCsv(c.trends));
  EXPECT_EQ(std::distance(fs::directory_iterator(disk), {}), 1);
  EXPECT_EQ(fake.messages.shown.size(), 1u);
}

}  // namespace
}  // namespace velmora::testing
