// The Terminal tab against the card: a typed command, and a log of exactly what the card sent.
#include <gtest/gtest.h>

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

TEST(Terminal, ATypedCommandReachesTheCardAndItsReplyShowsInThePane) {
  Workspace ws;
  Card card(ws, {"--start", "cpe", "--quiet"});
  ConsoleApp console("COM1=" + card.Link());
  console.Do("choose CommPortSelect 1");
  ASSERT_TRUE(console.WaitFor("ProgramText", "text", "CPE APP", 5s));
  console.Do("tab 2");
  console.Do("type CommandLineText ree 5");
  console.Do("key CommandLineText Return");
  EXPECT_TRUE(card.WaitForCommands({"ree 5"}, 3s));
  bool shown = false;
  for (int i = 0; i < 60 && !shown; ++i) {
    shown = console.Get("TerminalText").find("0005: 01") != std::string::npos;
    if (!shown) std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(shown);
  // The field keeps the command, ready to send again.
  EXPECT_EQ(console.Get("CommandLineText"), "ree 5");
}

TEST(Terminal, ALogStartedDuringAFloodHoldsExactlyWhatTheCardSentFromThenOn) {
  Workspace ws;
  const auto sent = ws.Path("sent.bin");
  const auto log = ws.Path("log.txt");
  Card card(ws, {"--start", "cpe", "--quiet", "--record-sent", sent.string()});
  ConsoleApp console("COM1=" + card.Link());
  console.Do("choose CommPortSelect 1");
  ASSERT_TRUE(console.WaitFor("ProgramText", "text", "CPE APP", 5s));
  console.Do("tab 2");
  console.Do("answer-file " + log.string());
  card.Operator("flood 20000000");
  while (std::filesystem::file_size(sent) < 1000000) std::this_thread::sleep_for(5ms);
  const std::size_t before = std::filesystem::file_size(sent);
  console.Do("click LoggingButton");
  ASSERT_TRUE(console.WaitFor("LoggingButton", "text", "Stop Logging", 5s));
  // Let the flood end and the card fall quiet, then stop logging.
  std::uintmax_t size = 0;
  for (int i = 0; i < 200; ++i) {
    std::this_thread::sleep_for(100ms);
    const auto now = std::filesystem::file_size(sent);
    if (now == size) break;
    size = now;
  }
  console.Do("click LoggingButton");
  std::this_thread::sleep_for(300ms);
  const std::string all = Slurp(sent);
  const std::string logged = Slurp(log);
  ASSERT_GT(logged.size(), 1000000u);
  // The log is exactly a stretch of what the card sent, beginning about the click (the line
  // and the console may still hold a little of what was sent before it).
  const std::size_t start = all.find(logged.substr(0, 65536), before > 262144 ? before - 262144 : 0);
  ASSERT_NE(start, std::string::npos);
  EXPECT_TRUE(all.compare(start, logged.size(), logged) == 0);
  EXPECT_EQ(logged.find("debug 80"), std::string::npos);
}

}  // namespace
}  // namespace velmora::e2e
