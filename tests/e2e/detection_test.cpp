// The real console recognises the card's program over a real pseudo-terminal and polls it.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

TEST(Detection, ARunningLineCardIsFoundThroughCpuAndHelpAndPolledInOrder) {
  Workspace ws;
  Card card(ws, {"--start", "linecard", "--quiet"});
  ConsoleApp console("COM1=" + card.Link());
  EXPECT_EQ(console.Get("CommPortSelect", "count"), "2");
  console.Do("choose CommPortSelect 1");
  ASSERT_TRUE(console.WaitFor("ProgramText", "text", "LINE CARD APP", 5s));
  EXPECT_EQ(console.Get("ProgramText", "color"), "#00ff00");
  // "cpu" made the console assume the boot loader, whose "help" listing named the line card.
  std::vector<std::string> expected = {"cpu", "help"};
  const auto round = FirstRound();
  expected.insert(expected.end(), round.begin(), round.end());
  EXPECT_TRUE(card.WaitForCommands(expected, 14s));
  const auto trace = card.Trace();
  const auto help = std::find(trace.begin(), trace.end(), "help");
  ASSERT_NE(help, trace.end());
  // After detection nothing but the first round, in its order.
  std::vector<std::string> after(help + 1, trace.end());
  after.resize(std::min(after.size(), round.size()));
  EXPECT_EQ(after, std::vector<std::string>(round.begin(), round.begin() + after.size()));
}

TEST(Detection, ACardInTheCpeApplicationIsRecognised) {
  Workspace ws;
  Card card(ws, {"--start", "cpe", "--quiet"});
  ConsoleApp console("COM1=" + card.Link());
  console.Do("choose CommPortSelect 1");
  EXPECT_TRUE(console.WaitFor("ProgramText", "text", "CPE APP", 5s));
  EXPECT_EQ(console.Get("CpeSelect", "visible"), "0");
}

TEST(Detection, ACardRestartedUnderTheConsoleIsFollowedThroughItsBootLoader) {
  Workspace ws;
  Card card(ws, {"--start", "linecard", "--quiet"});
  ConsoleApp console("COM1=" + card.Link());
  console.Do("choose CommPortSelect 1");
  ASSERT_TRUE(console.WaitFor("ProgramText", "text", "LINE CARD APP", 5s));
  card.Operator("reset");
  EXPECT_TRUE(console.WaitFor("ProgramText", "text", "BOOT LOADER", 3s));
  EXPECT_EQ(console.Get("ProgramText", "color"), "#ffff00");
  EXPECT_TRUE(console.WaitFor("ProgramText", "text", "LINE CARD APP", 6s));
}

TEST(Detection, APortThatCannotBeOpenedSaysWhyAndStaysDisconnected) {
  Workspace ws;
  ConsoleApp console("COM2=" + ws.Path("nothing-here").string());
  // A missing device is not listed at all.
  EXPECT_EQ(console.Get("CommPortSelect", "count"), "1");
}

}  // namespace
}  // namespace velmora::e2e
