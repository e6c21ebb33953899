// A program download at the real line speed: the card gets the file byte for byte and restarts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// An Intel HEX file made from the start of a real binary, about 110 KB of text.
std::filesystem::path MakeProgram(Workspace& ws) {
  const auto bin = ws.Path("prog.bin");
  const auto hex = ws.Path("prog.hex");
  {
    std::ifstream in(VELMORA_CARDSIM_BIN, std::ios::binary);
    std::string head(40000, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(bin, std::ios::binary).write(head.data(), in.gcount());
  }
  const std::string command = "objcopy -I binary -O ihex " + bin.string() + " " + hex.string();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("objcopy failed");
  return hex;
}

class Download : public ::testing::Test {
 protected:
  void SetUp() override {
    console.Do("choose CommPortSelect 1");
    ASSERT_TRUE(console.WaitFor("ProgramText", "text", "LINE CARD APP", 8s));
  }
  Workspace ws;
  std::filesystem::path received = ws.Path("received.hex");
  Card card{ws,
            {"--start", "linecard", "--quiet", "--baud", "57600", "--program-out", received}};
  ConsoleApp console{"COM1=" + card.Link()};
};

TEST_F(Download, AHexFileArrivesByteForByteAtLineSpeedAndTheCardComesBack) {
  const auto program = MakeProgram(ws);
  const std::string bytes = Slurp(program);
  ASSERT_GT(bytes.size(), 100000u);
  console.Do("answer-file " + program.string());
  console.Do("click DownloadButton");
  EXPECT_EQ(console.Get("DownloadStatus"), "Rebooting Radio Card ...");
  EXPECT_EQ(console.Get("DownloadButton"), "Abort Download");
  ASSERT_TRUE(console.WaitFor("DownloadStatus", "text", "Sending prog.hex ...", 10s));
  ASSERT_TRUE(console.WaitFor("DownloadStatus", "text", "Flashing prog.hex ...", 60s));
  // Eight seconds of flashing, then the window is back (the card's restart banner follows at
  // once, so the UNKNOWN view may last only milliseconds).
  ASSERT_TRUE(console.WaitFor("DownloadButton", "text", "Program Download", 12s));
  EXPECT_EQ(console.Get("OpConfig", "visible"), "1");
  EXPECT_EQ(console.Get("DownloadStatus", "visible"), "0");
  EXPECT_EQ(console.Get("CommPortSelect", "enabled"), "1");
  // The card restarted with its new program and is recognised afresh.
  EXPECT_TRUE(console.WaitFor("ProgramText", "text", "LINE CARD APP", 15s));
  EXPECT_TRUE(Slurp(received) == bytes) << "the card did not get the file exactly";

  const double begins = card.TraceTime("[program file begins]");
  const double ends = card.TraceTime("[program file ends");
  ASSERT_GT(ends, begins);
  EXPECT_NE(card.Trace().end(), std::find_if(card.Trace().begin(), card.Trace().end(),
                                             [](const std::string& l) {
                                               return l.find("ends: ") != std::string::npos &&
                                                      l.find("OK") != std::string::npos;
                                             }));
  const double efficiency = static_cast<double>(bytes.size()) / ((ends - begins) * 5760.0);
  std::printf("download: %zu bytes in %.2f s at 57600 baud: efficiency %.1f%%\n", bytes.size(),
              ends - begins, 100 * efficiency);
  RecordProperty("efficiency_percent", std::to_string(100 * efficiency));
  EXPECT_GT(efficiency, 0.9);
}

TEST_F(Download, AnAbortMidTransferLeavesTheConsolePollingAgain) {
  const auto program = MakeProgram(ws);
  console.Do("answer-file " + program.string());
  console.Do("click DownloadButton");
  ASSERT_TRUE(console.WaitFor("DownloadStatus", "text", "Sending prog.hex ...", 10s));
  std::this_thread::sleep_for(1s);
  console.Do("click DownloadButton");
  EXPECT_EQ(console.Get("ProgramText"), "UNKNOWN");
  EXPECT_EQ(console.Get("DownloadButton"), "Program Download");
  EXPECT_EQ(console.Get("CommPortSelect", "enabled"), "1");
  EXPECT_EQ(console.Get("DownloadStatus", "visible"), "0");
  // The rest of the queued file drains, the card resets and is found again by polling.
  EXPECT_TRUE(console.WaitFor("ProgramText", "text", "LINE CARD APP", 30s));
  EXPECT_LT(Slurp(received).size(), Slurp(program).size());
}

}  // namespace
}  // namespace velmora::e2e
