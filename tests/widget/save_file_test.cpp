// A file written whole (a saved recording) on a disk that fills: the old file stays as it was.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>

#include "platform/qt/qt_platform.h"

namespace velmora {
namespace {

TEST(QtFilesWriteWhole, AFullDiskFailsTheWriteAndLeavesTheOldFileWholeAndNoOtherFile) {
  QTemporaryDir dir;
  const std::string root = dir.path().toStdString();
  if (::mount("tmpfs", root.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount(at.c_str()); }
  } unmount{root};
  const std::string saved = root + "/saved.jsonl";
  QtFiles files;
  ASSERT_FALSE(files.WriteWhole(saved, "old"));
  { std::ofstream(root + "/filler") << std::string(200 * 1024, 'f'); }
  const FileError error = files.WriteWhole(saved, std::string(100 * 1024, 'n'));
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("No space left on device"), std::string::npos) << *error;
  std::ifstream in(saved);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).join(","), "filler,saved.jsonl");
}

}  // namespace
}  // namespace velmora
