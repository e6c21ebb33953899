// Hook and ring states of the telephone lines, from state lines and line events.
#include "replies/line_state.h"

#include <gtest/gtest.h>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

using Lines = std::vector<std::string>;

class PhoneLineTest : public ConnectedConsoleTest {
 protected:
  void Start(const char* banner, std::int32_t type) {
    Receive(banner);
    ASSERT_EQ(s.ProgramType, type);
  }
  void Receive(const std::string& line) { fake.port.Feed(line + "\r\n"); }
  // Hook and ring of both lines of every CPE, CPE by CPE.
  Lines Stored() const {
    Lines all;
    for (const auto& r : s.CpeStatus)
      for (const auto& l : r.Lines) {
        all.push_back(l.Hook);
        all.push_back(l.Ring);
      }
    return all;
  }
  Lines Shown() const {
    return {ui.Line1Hook.Text(), ui.Line1Ring.Text(), ui.Line2Hook.Text(), ui.Line2Ring.Text()};
  }
  void Blank() {
    for (TextBox* t : {&ui.Line1Hook, &ui.Line1Ring, &ui.Line2Hook, &ui.Line2Ring})
      t->SetText("none");
  }
};

class LineStateCpeTest : public PhoneLineTest {
 protected:
  void SetUp() override {
    PhoneLineTest::SetUp();
    Start("CPE Application Initialized", ProgramType::CpeApp);
  }
};

class LineStateLineCardTest : public PhoneLineTest {
 protected:
  void SetUp() override {
    PhoneLineTest::SetUp();
    Start("Line Card Application Initialized", ProgramType::LineCardApp);
  }
};

TEST(LineStateTexts, EveryNonZeroHookCodeIsOnHookButOnlyRingCode1Rings) {
  EXPECT_EQ(HookStateText(0), "OFF HOOK");
  for (int code : {1, 2, 255}) EXPECT_EQ(HookStateText(code), "ON HOOK") << code;
  EXPECT_EQ(RingStateText(1), "RING ON");
  for (int code : {0, 2, 255}) EXPECT_EQ(RingStateText(code), "RING OFF") << code;
}

// ---- CPE application: its own two lines.

TEST_F(LineStateCpeTest, StateLinesReadTwoDecimalCodesAtPositions13To16) {
  const struct {
    const char* line;
    Lines shown;  // Line1Hook, Line1Ring, Line2Hook, Line2Ring
  } cases[] = {
      {"hook_state: 0100", {"ON HOOK", "none", "OFF HOOK", "none"}},
      {"hook_state: 0200", {"ON HOOK", "none", "OFF HOOK", "none"}},
      {"hook_state: 0099", {"OFF HOOK", "none", "ON HOOK", "none"}},
      {"hook_state: 01", {"ON HOOK", "none", "OFF HOOK", "none"}},
      {"hook_state: ", {"OFF HOOK", "none", "OFF HOOK", "none"}},
      {"hook_state: 010100", {"ON HOOK", "none", "ON HOOK", "none"}},
      {">hook_state: 0101", {"OFF HOOK", "none", "ON HOOK", "none"}},  // cut " 010"
      {"ring_state: 0201", {"none", "RING OFF", "none", "RING ON"}},
      {"ring_state: 0100", {"none", "RING ON", "none", "RING OFF"}},
      {"ring_state: 1", {"none", "RING ON", "none", "RING OFF"}},
      {"ring_state: ", {"none", "RING OFF", "none", "RING OFF"}},
      {"hook_state: 0101 Channel 00 OFF HOOK", {"ON HOOK", "none", "ON HOOK", "none"}},
  };
  for (const auto& k : cases) {
    Blank();
    Receive(k.line);
    EXPECT_EQ(Shown(), k.shown) << k.line;
  }
}

TEST_F(LineStateCpeTest, EventsNameTheLineByTheChannelAtPositions9To10) {
  const struct {
    const char* line;
    Lines shown;
  } cases[] = {
      {"Channel 01 OFF HOOK", {"none", "none", "OFF HOOK", "none"}},
      {"Channel 00 ON HOOK", {"ON HOOK", "none", "none", "none"}},
      {"Channel 02 OFF HOOK", {"none", "none", "none", "none"}},
      {"Channel FF ON HOOK", {"none", "none", "none", "none"}},
      {"Channel 1 RING ON", {"none", "none", "none", "RING ON"}},
      {"OFF HOOK", {"OFF HOOK", "none", "none", "none"}},              // too short: channel 0
      {"xChannel 01 RING OFF", {"none", "RING OFF", "none", "none"}},  // positions 9-10: " 0"
      {"Channel 01 ON HOOK, then OFF HOOK", {"none", "none", "OFF HOOK", "none"}},
      {"Channel 00 RING ON, then RING OFF", {"none", "RING OFF", "none", "none"}},
  };
  for (const auto& k : cases) {
    Blank();
    Receive(k.line);
    EXPECT_EQ(Shown(), k.shown) << k.line;
  }
  // The CPE application's lines are not stored per CPE.
  for (const auto& r : s.CpeStatus) EXPECT_EQ(r.Lines[1].Hook, "ON HOOK");
}

TEST_F(LineStateCpeTest, BadCodeKeepsWhatCameBeforeAndHidesTheLineFromLaterParsers) {
  Receive("hook_state: -1 RING ON");
  EXPECT_EQ(Shown(), (Lines{"ON HOOK", "RING OFF", "ON HOOK", "RING OFF"}));

  Receive("ring_state: 01-1 temperature: 0019");
  EXPECT_EQ(Shown(), (Lines{"ON HOOK", "RING ON", "ON HOOK", "RING OFF"}));
  EXPECT_EQ(ui.TemperatureText.Text(), "");
}

// ---- Line card application: the lines of each CPE, the selected CPE's in the fields.

TEST_F(LineStateLineCardTest, StateLinesUpdateOnlyLockedCpes) {
  Receive("op_status: 02000100");
  Receive("Subscriber 01 Channel 00 OFF HOOK");
  Blank();
  Receive("hook_state: 0001000000000000");
  Receive("ring_state: 0100010101010101");
  EXPECT_EQ(Stored(), (Lines{"OFF HOOK", "RING ON", "ON HOOK", "RING OFF",   // CPE 0, Locked
                             "OFF HOOK", "RING OFF", "ON HOOK", "RING OFF",  // Acquisition
                             "ON HOOK", "RING OFF", "ON HOOK", "RING OFF",   // Ranging
                             "ON HOOK", "RING OFF", "ON HOOK", "RING OFF"}));
  EXPECT_EQ(Shown(), (Lines{"OFF HOOK", "RING ON", "ON HOOK", "RING OFF"}));

  Receive("op_status: 02020000");
  ui.CpeSelect.UserChoose(1);
  Receive("hook_state: 00000100");
  EXPECT_EQ(s.CpeStatus[1].Lines[0].Hook, "ON HOOK");
  EXPECT_EQ(s.CpeStatus[1].Lines[1].Hook, "OFF HOOK");
  EXPECT_EQ(Shown(), (Lines{"ON HOOK", "RING OFF", "OFF HOOK", "RING OFF"}));
}

TEST_F(LineStateLineCardTest, ShortStateLineReadsMissingCodesAsZero) {
  Receive("op_status: 02020202");
  Receive("hook_state: 0101");
  Receive("ring_state: 010101");
  EXPECT_EQ(Stored(), (Lines{"ON HOOK", "RING ON", "ON HOOK", "RING ON",      //
                             "OFF HOOK", "RING ON", "OFF HOOK", "RING OFF",   //
                             "OFF HOOK", "RING OFF", "OFF HOOK", "RING OFF",  //
                             "OFF HOOK", "RING OFF", "OFF HOOK", "RING OFF"}));
}

TEST_F(LineStateLineCardTest, BadCodeMidLineKeepsEarlierCpesAndRefreshesNothing) {
  Receive("op_status: 02020000");
  Receive("hook_state: 0000-101 Channel 01 RING ON");
  EXPECT_EQ(s.CpeStatus[0].Lines[0].Hook, "OFF HOOK");
  EXPECT_EQ(s.CpeStatus[0].Lines[1].Hook, "OFF HOOK");
  EXPECT_EQ(s.CpeStatus[1].Lines[0].Hook, "ON HOOK");
  // Neither the fields nor the ring parser saw the rest of the line.
  EXPECT_EQ(Shown(), (Lines{"ON HOOK", "RING OFF", "ON HOOK", "RING OFF"}));
  EXPECT_EQ(s.CpeStatus[0].Lines[1].Ring, "RING OFF");
}

TEST_F(LineStateLineCardTest, StateMarkerComesBeforeTheEvents) {
  Receive("op_status: 02000000");
  Receive("hook_state: 0000 Channel 01 ON HOOK");
  EXPECT_EQ(s.CpeStatus[0].Lines[1].Hook, "OFF HOOK");
}

TEST_F(LineStateLineCardTest, EventsUpdateAnyCpeAndShowOnlyTheSelectedOne) {
  Blank();
  Receive("Subscriber 02 Channel 01 RING ON");
  EXPECT_EQ(s.CpeStatus[2].OpState, "Acquisition");
  EXPECT_EQ(s.CpeStatus[2].Lines[1].Ring, "RING ON");
  EXPECT_EQ(Shown(), (Lines{"none", "RING OFF", "none", "RING OFF"}));  // CPE 0's ring states
  ui.CpeSelect.UserChoose(2);
  EXPECT_EQ(Shown(), (Lines{"ON HOOK", "RING OFF", "ON HOOK", "RING ON"}));
  Receive("Subscriber 02 Channel 00 OFF HOOK");
  EXPECT_EQ(Shown(), (Lines{"OFF HOOK", "RING OFF", "ON HOOK", "RING ON"}));

  const struct {
    const char* line;
    std::size_t cpe, line_index;
    const char* hook;
  } cases[] = {
      {"Subscriber 01 Channel 00 OFF HOOK", 1, 0, "OFF HOOK"},
      {"Subscriber 03, port 4, Channel 01 OFF HOOK", 3, 1, "OFF HOOK"},  // behind "Channel "
      {"Subscriber 01 Channel 00 ON HOOK", 1, 0, "ON HOOK"},
      {"Subscriber 00 Channel 1 OFF HOOK", 0, 1, "OFF HOOK"},
      {"Subscriber 00 Channel 01 ON HOOK", 0, 1, "ON HOOK"},
      {"Subscriber 00 Channel 01 ON HOOK, OFF HOOK", 0, 1, "OFF HOOK"},
      {"Subscriber 03 Channel 01 ON HOOK", 3, 1, "ON HOOK"},
  };
  for (const auto& k : cases) {
    Receive(k.line);
    EXPECT_EQ(s.CpeStatus[k.cpe].Lines[k.line_index].Hook, k.hook) << k.line;
  }
  Receive("Subscriber 01 Channel 00 RING ON");
  Receive("Subscriber 01 Channel 00 RING ON then RING OFF");
  EXPECT_EQ(s.CpeStatus[1].Lines[0].Ring, "RING OFF");
}

TEST_F(LineStateLineCardTest, BadEventIsAReplyErrorThatStoresNothing) {
  const Lines before = Stored();
  Blank();
  for (const char* line : {"Subscriber 02 Channel 02 RING ON temperature: 0019",
                           "Subscriber 01 OFF HOOK temperature: 0019",
                           "Subscriber 04 Channel 00 OFF HOOK temperature: 0019",
                           "Subscriber 01 Channel FF RING OFF temperature: 0019"}) {
    Receive(line);
    EXPECT_EQ(Stored(), before) << line;
    EXPECT_EQ(Shown(), Lines(4, "none")) << line;
    EXPECT_EQ(ui.TemperatureText.Text(), "") << line;
  }
}

class LineStateIdleTest : public ConsoleTest {
 protected:
  void SetUp() override { Form_Load(c); }
};

TEST_F(LineStateIdleTest, ParsersDoNothingWhileNoApplicationRuns) {
  for (std::int32_t type : {ProgramType::Unknown, ProgramType::BootLoader}) {
    s.ProgramType = type;
    for (const char* text : {"hook_state: 0000", "ring_state: 0101", "Channel 01 OFF HOOK",
                             "Subscriber 01 Channel 00 RING ON"}) {
      std::string line = text;
      ParseHookState(c, line);
      ParseRingState(c, line);
      EXPECT_EQ(ui.Line1Hook.Text(), "ON HOOK") << text;
      EXPECT_EQ(ui.Line2Hook.Text(), "ON HOOK") << text;
      EXPECT_EQ(ui.Line1Ring.Text(), "RING OFF") << text;
      EXPECT_EQ(s.CpeStatus[1].Lines[0].Ring, "RING OFF") << text;
    }
  }
}

}  // namespace
}  // namespace velmora::testing
