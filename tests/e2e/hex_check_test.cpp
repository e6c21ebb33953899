// A broken or huge program file chosen in the real window is refused before the card is touched.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

using HexCheck = CardAndConsole;

TEST_F(HexCheck, BrokenOrHugeFilesGiveOneBoxEachAndTheCardSeesNoResetAndNoProgram) {
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "linecard"}, "LINE CARD APP"));
  const auto file = ws.Path("radio.hex"), huge = ws.Path("huge.hex");
  std::ofstream(file, std::ios::binary) << ":10010000214601360121470136007EFE09D2190140\r\n"
                                           ":100110002146017E17C20001FF5F16002148011929\r\n"
                                           ":00000001FF\r\n";
  std::ofstream(huge).close();
  std::filesystem::resize_file(huge, 17 << 20);  // too large to be a program: refused by length
  const std::vector<std::pair<std::filesystem::path, std::string>> rows = {
      {file, "radio.hex, line 2: the checksum is 29, the record's bytes give 28."},
      {huge, "huge.hex is not a program file: it is larger than 16 MiB, more than any program."}};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    console->Do("answer-file " + rows[i].first.string());
    console->Do("click DownloadButton");
    EXPECT_EQ(console->WaitForBoxes(i + 1, 10s).back(), rows[i].second);
    EXPECT_EQ(console->Get("DownloadButton"), "Program Download");
    EXPECT_EQ(console->Get("DownloadStatus", "visible"), "0");
    EXPECT_TRUE(console->CloseBox());
  }
  // The poll cycle goes on, and the card never saw the download begin.
  const std::size_t before = card->Trace().size();
  EXPECT_TRUE(WaitUntil([&] { return card->Trace().size() >= before + 3; }, 10s));
  EXPECT_EQ(Took("reset"), 0);
  for (const auto& line : card->Trace()) EXPECT_EQ(line.find("[program"), line.npos) << line;
  EXPECT_EQ(console->Get("ProgramText"), "LINE CARD APP");
  EXPECT_EQ(console->Boxes().size(), 2u);
}

}  // namespace
}  // namespace velmora::e2e
