// A broken or huge program file chosen in the real window is refused before the card is touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

TEST(HexCheck, BrokenOrHugeFilesGiveOneBoxEachAndTheCardSeesNoResetAndNoProgram) {
  Workspace ws;
  Card card(ws, {"--start", "linecard", "--quiet"});
  ConsoleApp console("COM1=" + card.Link());
  console.Do("choose CommPortSelect 1");
  ASSERT_TRUE(console.WaitFor("ProgramText", "text", "LINE CARD APP", 8s));
  const auto file = ws.Path("radio.hex");
  std::ofstream(file, std::ios::binary) << ":10010000214601360121470136007EFE09D2190140\r\n"
                                           ":100110002146017E17C20001FF5F16002148011929\r\n"
                                           ":00000001FF\r\n";
  console.Do("answer-file " + file.string());
  console.Do("click DownloadButton");
  EXPECT_EQ(console.WaitForBoxes(1, 10s),
            std::vector<std::string>{
                "radio.hex, line 2: the checksum is 29, the record's bytes give 28."});
  EXPECT_EQ(console.Get("DownloadButton"), "Program Download");
  EXPECT_EQ(console.Get("DownloadStatus", "visible"), "0");
  EXPECT_EQ(console.Get("OpConfig", "visible"), "1");
  EXPECT_TRUE(console.CloseBox());
  // Too large to be a program: refused by its length alone.
  const auto huge = ws.Path("huge.hex");
  std::ofstream(huge).close();
  std::filesystem::resize_file(huge, 17 << 20);
  console.Do("answer-file " + huge.string());
  console.Do("click DownloadButton");
  EXPECT_EQ(console.WaitForBoxes(2, 10s).back(),
            "huge.hex is not a program file: it is larger than 16 MiB, more than any program.");
  EXPECT_TRUE(console.CloseBox());

  // The poll cycle goes on, and the card never saw the download begin.
  const std::size_t before = card.Trace().size();
  for (int i = 0; i < 100 && card.Trace().size() < before + 3; ++i)
    std::this_thread::sleep_for(100ms);
  const auto trace = card.Trace();
  EXPECT_GE(trace.size(), before + 3) << "the console stopped polling";
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "reset"), 0);
  EXPECT_EQ(std::find_if(trace.begin(), trace.end(),
                         [](const std::string& l) { return l.find("[program") != l.npos; }),
            trace.end());
  EXPECT_EQ(console.Get("ProgramText"), "LINE CARD APP");
  EXPECT_EQ(console.Boxes().size(), 2u);
}

}  // namespace
}  // namespace velmora::e2e
