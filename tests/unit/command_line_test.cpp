// The command line: a click (or Enter) queues the text, the next poll tick sends what the field
// holds then; earlier commands of this run can be recalled with Up and Down.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

class CommandLineTest : public ConnectedConsoleTest {
 protected:
  void SetUp() override {
    ConnectedConsoleTest::SetUp();
    Detect();
  }
  void Detect() {
    fake.port.Feed("CPE Application Initialized\r\n");
    ASSERT_EQ(s.ProgramType, ProgramType::CpeApp);
  }
  long Sent(const std::string& command) const {
    return std::count(fake.port.writes.begin(), fake.port.writes.end(), command + "\r\n");
  }
  void Send(const std::string& text) {
    ui.CommandLineText.UserEdit(text);
    ui.CommandLineButton.UserClick();
  }
};

TEST_F(CommandLineTest, TwoClicksBeforeATickSendOnceAndTheTextStays) {
  ui.CommandLineText.UserEdit("versions");
  ui.CommandLineButton.UserClick();
  ui.CommandLineButton.UserClick();
  EXPECT_EQ(Sent("versions"), 0);  // the click only queues it
  fake.clock.Advance(100);
  EXPECT_EQ(Sent("versions"), 1);
  EXPECT_FALSE(s.CommandLinePending);
  EXPECT_EQ(ui.CommandLineText.Text(), "versions");
  fake.clock.Advance(1000);
  EXPECT_EQ(Sent("versions"), 1);
  ui.CommandLineButton.UserClick();
  fake.clock.Advance(100);
  EXPECT_EQ(Sent("versions"), 2);
}

TEST_F(CommandLineTest, TheTextIsReadAtTheTickNotAtTheClick) {
  ui.CommandLineText.UserEdit("ver");
  ui.CommandLineButton.UserClick();
  ui.CommandLineText.UserEdit("versions");
  fake.clock.Advance(100);
  EXPECT_EQ(Sent("ver"), 0);
  EXPECT_EQ(Sent("versions"), 1);
}

TEST_F(CommandLineTest, EnterDoesWhatSendCommandDoes) {
  ui.CommandLineText.UserEdit("line_state");
  EXPECT_TRUE(ui.CommandLineText.UserKeyDown(Key::Enter));
  EXPECT_TRUE(s.CommandLinePending);
  fake.clock.Advance(100);
  EXPECT_EQ(Sent("line_state"), 1);
  EXPECT_EQ(ui.CommandLineText.Text(), "line_state");
}

TEST_F(CommandLineTest, UpAndDownRecallEarlierCommandsAndGiveBackTheDraft) {
  for (const char* command : {"a", "b", "b", "c", "b"}) {
    Send(command);
    fake.clock.Advance(100);
  }
  ui.CommandLineText.UserEdit("dra");
  std::vector<std::string> seen;
  for (int i = 0; i < 5; ++i) {
    ui.CommandLineText.UserKeyDown(Key::Up);
    seen.push_back(ui.CommandLineText.Text());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"b", "c", "b", "a", "a"}));
  seen.clear();
  for (int i = 0; i < 5; ++i) {
    ui.CommandLineText.UserKeyDown(Key::Down);
    seen.push_back(ui.CommandLineText.Text());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"b", "c", "b", "dra", "dra"}));
  // Recall only fills the field; nothing is queued by it.
  EXPECT_FALSE(s.CommandLinePending);
}

TEST_F(CommandLineTest, QueuedCommandIsDroppedWhenAnotherPortIsChosen) {
  Send("versions");
  ui.CommPortSelect.UserChoose(0);  // DISCONNECT before the tick
  EXPECT_FALSE(s.CommandLinePending);
  ui.CommPortSelect.UserChoose(1);
  Detect();
  ui.CommandLineText.UserEdit("versions");
  fake.clock.Advance(3000);
  EXPECT_EQ(Sent("versions"), 0);
}

TEST_F(ConnectedConsoleTest, CommandLineIsNeverSentWhileTheProgramIsUnknown) {
  ASSERT_EQ(s.ProgramType, ProgramType::Unknown);
  // The field and the button refuse a person while the card is not recognised.
  ui.CommandLineText.UserEdit("versions");
  ui.CommandLineText.UserKeyDown(Key::Enter);
  ui.CommandLineButton.UserClick();
  EXPECT_FALSE(s.CommandLinePending);

  // A request that is pending all the same waits, and the next port choice drops it.
  ui.CommandLineText.SetText("versions");
  s.CommandLinePending = true;
  fake.clock.Advance(3000);
  EXPECT_EQ(fake.port.writes, (std::vector<std::string>{"cpu\r\n", "cpu\r\n", "cpu\r\n"}));
  EXPECT_TRUE(s.CommandLinePending);
  ui.CommPortSelect.UserChoose(0);
  EXPECT_FALSE(s.CommandLinePending);
  ui.CommPortSelect.UserChoose(1);
  fake.port.Feed("CPE Application Initialized\r\n");
  ui.CommandLineText.SetText("versions");
  fake.clock.Advance(3000);
  for (const auto& w : fake.port.writes) EXPECT_NE(w, "versions\r\n");
}

}  // namespace
}  // namespace velmora::testing
