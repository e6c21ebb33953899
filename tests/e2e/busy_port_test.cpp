// A port another program holds: one box that says so, and the console left disconnected.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

TEST(BusyPort, ChoosingAPortAnotherConsoleHoldsSaysItIsInUse) {
  Workspace ws;
  Card card(ws, {"--start", "cpe", "--quiet"});
  ConsoleApp holder("COM1=" + card.Link());
  holder.Do("choose CommPortSelect 1");
  ASSERT_TRUE(holder.WaitFor("ProgramText", "text", "CPE APP", 5s));

  ConsoleApp console("COM1=" + card.Link());
  console.Do("choose CommPortSelect 1");
  EXPECT_EQ(console.WaitForBoxes(1, 10s),
            std::vector<std::string>{"COM1 (" + card.Link() + ") is in use by another program."});
  console.CloseBox();
  EXPECT_EQ(console.Get("CommPortSelect"), "DISCONNECT");
  // The holder keeps talking to the card.
  EXPECT_EQ(holder.Get("ProgramText"), "CPE APP");
}

}  // namespace
}  // namespace velmora::e2e
