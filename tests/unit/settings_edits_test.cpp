// The engineer's edits of the EEPROM settings and the choice of the CPE shown: requests are only
// queued, and the poll cycle's next tick puts them on the wire.
#include "scheduler/settings_edits.h"

#include <gtest/gtest.h>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

using Lines = std::vector<std::string>;

class EditsTest : public ConnectedConsoleTest {
 protected:
  void Start(const char* banner, std::int32_t type) {
    Receive(banner);
    ASSERT_EQ(s.ProgramType, type);
    fake.port.writes.clear();
  }
  void Receive(const std::string& line) { fake.port.Feed(line + "\r\n"); }
  // A person typing: the key filter sees each character, the field takes those it keeps.
  void Type(const std::string& keys) {
    for (char ch : keys) {
      std::int16_t code = static_cast<unsigned char>(ch);
      if (!ui.SfdText.UserKeyPress(code)) continue;
      std::string text = ui.SfdText.Text();
      if (code == 8) {
        if (!text.empty()) text.pop_back();
      } else {
        text += static_cast<char>(code);
      }
      ui.SfdText.UserEdit(text);
    }
  }
  // One tick of the poll timer, and the EEPROM writes it sent.
  Lines Tick() {
    fake.port.writes.clear();
    fake.clock.Advance(100);
    Lines wees;
    for (const auto& w : fake.port.writes)
      if (w.rfind("wee ", 0) == 0) wees.push_back(w);
    return wees;
  }
  int IndexOf(const ComboBox& box, const std::string& text) {
    for (int i = 0; i < box.ListCount(); ++i)
      if (box.ItemText(i) == text) return i;
    ADD_FAILURE() << text << " not in " << box.Name();
    return -1;
  }
  void Choose(ComboBox& box, const std::string& text) {
    box.UserChoose(static_cast<std::int16_t>(IndexOf(box, text)));
  }
};

class SettingsEditsTest : public EditsTest {
 protected:
  void SetUp() override {
    EditsTest::SetUp();
    Start("Line Card Application Initialized", ProgramType::LineCardApp);
  }
};

class SettingsEditsCpeTest : public EditsTest {
 protected:
  void SetUp() override {
    EditsTest::SetUp();
    Start("CPE Application Initialized", ProgramType::CpeApp);
  }
};

TEST_F(SettingsEditsTest, KeyFilterKeepsOnlyDigitsAndBackspace) {
  const struct {
    int code;
    bool kept;
  } cases[] = {{'0', true},  {'5', true},  {'9', true},  {8, true},    {'/', false},
               {':', false}, {'a', false}, {'-', false}, {' ', false}, {13, false},
               {27, false},  {127, false}, {0xB2, false}};
  for (const auto& k : cases) {
    std::int16_t code = static_cast<std::int16_t>(k.code);
    SfdText_KeyPress(c, code);
    EXPECT_EQ(code, k.kept ? k.code : 0) << k.code;
  }
}

TEST_F(SettingsEditsTest, TypingFillsTheFieldAndItsContentEnablesUpdate) {
  EXPECT_FALSE(ui.SfdButton.Enabled());
  Type("1a2\r");
  EXPECT_EQ(ui.SfdText.Text(), "12");
  EXPECT_TRUE(ui.SfdButton.Enabled());
  Type("\b");
  EXPECT_EQ(ui.SfdText.Text(), "1");
  EXPECT_TRUE(ui.SfdButton.Enabled());
  Type("\b");
  EXPECT_EQ(ui.SfdText.Text(), "");
  EXPECT_FALSE(ui.SfdButton.Enabled());
  Type("7");
  EXPECT_TRUE(ui.SfdButton.Enabled());
  // A change made by the program counts the same.
  ui.SfdText.SetText("");
  EXPECT_FALSE(ui.SfdButton.Enabled());
}

TEST_F(SettingsEditsTest, PastedTextKeepsOnlyItsDigits) {
  ui.SfdText.UserPaste("4x5 abc");
  EXPECT_EQ(ui.SfdText.Text(), "45");
  EXPECT_TRUE(ui.SfdButton.Enabled());
  ui.SfdText.UserPaste("-1.5e3");
  EXPECT_EQ(ui.SfdText.Text(), "45153");
  ui.SfdText.UserEdit("1a2");
  EXPECT_EQ(ui.SfdText.Text(), "12");

  // A pasted word leaves the field empty, so no write of 0 can be queued.
  ui.SfdText.UserEdit("");
  ui.SfdText.UserPaste("word");
  EXPECT_EQ(ui.SfdText.Text(), "");
  EXPECT_FALSE(ui.SfdButton.Enabled());
  ui.SfdButton.UserClick();
  EXPECT_FALSE(s.SfdWritePending);
  EXPECT_EQ(Tick(), Lines{});
}

TEST_F(SettingsEditsTest, SfdValueIsWrittenInHexadecimalAndCappedAt255) {
  const struct {
    const char* typed;
    const char* sent;
  } cases[] = {
      {"300", "wee 0 FF\r\n"},        {"007", "wee 0 7\r\n"},
      {"30", "wee 0 1E\r\n"},         {"0", "wee 0 0\r\n"},
      {"254", "wee 0 FE\r\n"},        {"255", "wee 0 FF\r\n"},
      {"256", "wee 0 FF\r\n"},        {"99999999999", "wee 0 FF\r\n"},
      {"4294967297", "wee 0 FF\r\n"}, {"000000000000000000042", "wee 0 2A\r\n"},
  };
  for (const auto& k : cases) {
    ui.SfdText.UserEdit("");
    Type(k.typed);
    ui.SfdButton.UserClick();
    EXPECT_EQ(Tick(), Lines{k.sent}) << k.typed;
    EXPECT_FALSE(s.SfdWritePending) << k.typed;
    EXPECT_TRUE(ui.SfdButton.Enabled()) << k.typed;
  }
}

TEST_F(SettingsEditsTest, NegativeReadBackQueuesNoWrite) {
  for (const char* line : {"0000: FFFF", "0000: 80000000"}) {
    Receive(line);
    ASSERT_EQ(ui.SfdText.Text().front(), '-') << line;
    SfdButton_Click(c);
    EXPECT_FALSE(s.SfdWritePending) << line;
    EXPECT_EQ(Tick(), Lines{}) << line;
  }
}

TEST_F(SettingsEditsTest, ValueIsTakenAtTheClickAndOneWriteGoesOutPerTick) {
  Type("25");
  ui.SfdButton.UserClick();
  Type("\b6");
  EXPECT_EQ(ui.SfdText.Text(), "26");
  EXPECT_TRUE(ui.SfdButton.Enabled());
  EXPECT_EQ(Tick(), Lines{"wee 0 19\r\n"});

  // Twice before one tick: one write, of the value at the last click.
  ui.SfdButton.UserClick();
  Type("\b7");
  ui.SfdButton.UserClick();
  EXPECT_EQ(Tick(), Lines{"wee 0 1B\r\n"});
  EXPECT_EQ(Tick(), Lines{});

  // After the write went out, a click queues it again.
  ui.SfdButton.UserClick();
  EXPECT_EQ(Tick(), Lines{"wee 0 1B\r\n"});
}

TEST_F(SettingsEditsTest, ChoosingTheChosenItemEnablesUpdateAndWritesTheSameValueAgain) {
  Receive("0004: 06");
  ASSERT_EQ(ui.GenericSelect.ListIndex(), 2);
  ASSERT_FALSE(ui.GenericButton.Enabled());
  ui.GenericSelect.UserChoose(2);
  EXPECT_TRUE(ui.GenericButton.Enabled());
  ui.GenericButton.UserClick();
  ui.GenericButton.UserClick();
  EXPECT_EQ(Tick(), Lines{"wee 4 6\r\n"});
  EXPECT_TRUE(ui.GenericButton.Enabled());
}

TEST_F(SettingsEditsTest, TelephonyKeepsTheUpperBitsReadBack) {
  Receive("0004: 40");
  Choose(ui.GenericSelect, "E1 & 12 KHz Tone");
  EXPECT_TRUE(ui.GenericButton.Enabled());
  ui.GenericButton.UserClick();
  EXPECT_EQ(Tick(), Lines{"wee 4 43\r\n"});
  EXPECT_EQ(s.EEPROM_VALUE_PCM, 0x43);
}

TEST_F(SettingsEditsTest, V35ChoiceIsWrittenOnTheNextTick) {
  Receive("0005: 00");
  ASSERT_FALSE(ui.V35Button.Enabled());
  Choose(ui.V35Select, "CHANNEL 1");
  EXPECT_TRUE(ui.V35Button.Enabled());
  ui.V35Button.UserClick();
  EXPECT_TRUE(s.V35WritePending);
  EXPECT_EQ(Tick(), Lines{"wee 5 1\r\n"});
  EXPECT_TRUE(ui.V35Button.Enabled());
}

TEST_F(SettingsEditsTest, AllThreeWritesGoOutInAddressOrder) {
  Receive("0004: 40");
  Choose(ui.V35Select, "CHANNEL 2");
  ui.V35Button.UserClick();
  Choose(ui.GenericSelect, "E1 & 16 KHz Tone");
  ui.GenericButton.UserClick();
  Type("30");
  ui.SfdButton.UserClick();
  EXPECT_EQ(Tick(), (Lines{"wee 0 1E\r\n", "wee 4 41\r\n", "wee 5 2\r\n"}));
}

TEST_F(SettingsEditsTest, WriteStillQueuedIsDroppedWhenTheBootLoaderStarts) {
  Type("30");
  ui.SfdButton.UserClick();
  Receive("Boot Loader Initialized");
  EXPECT_FALSE(s.SfdWritePending);
  EXPECT_EQ(Tick(), Lines{});
}

TEST_F(SettingsEditsCpeTest, RangeIsWrittenAsTheListIndex) {
  Receive("0004: 40");
  Choose(ui.GenericSelect, "Greater than 25 miles");
  EXPECT_TRUE(ui.GenericButton.Enabled());
  ui.GenericButton.UserClick();
  EXPECT_EQ(Tick(), Lines{"wee 4 1\r\n"});
  EXPECT_EQ(s.EEPROM_VALUE_PCM, 0x40);
}

TEST_F(SettingsEditsTest, CpeSelectionShowsTheStoredTextsOfAnotherCpeOnly) {
  Receive("op_status: 00000200");
  Receive("FF28: 00 00 1A 00");
  Receive("Subscriber 02 SFD Loss Count: 0004");
  Receive("Subscriber 02 Channel 00 OFF HOOK");
  Receive("Subscriber 02 Channel 01 RING ON");
  fake.port.writes.clear();

  // The CPE already shown: nothing changes.
  ui.OpStateText.SetText("none");
  ui.CpeSelect.UserChoose(0);
  EXPECT_EQ(ui.OpStateText.Text(), "none");
  EXPECT_EQ(s.SelectedCpe, 0);

  ui.CpeSelect.UserChoose(2);
  EXPECT_EQ(s.SelectedCpe, 2);
  EXPECT_EQ(
      (Lines{ui.OpStateText.Text(), ui.RssiText.Text(), ui.SfdLossText.Text(), ui.Line1Hook.Text(),
             ui.Line1Ring.Text(), ui.Line2Hook.Text(), ui.Line2Ring.Text()}),
      (Lines{"Locked", " 26", " 4", "OFF HOOK", "RING OFF", "ON HOOK", "RING ON"}));
  EXPECT_EQ(ui.OpStateText.BackColor(), kGreen);
  EXPECT_EQ(ui.RssiText.BackColor(), kGreen);
  EXPECT_EQ(ui.SfdLossText.BackColor(), kYellow);
  EXPECT_TRUE(fake.port.writes.empty());

  ui.RssiText.SetText("none");
  ui.CpeSelect.UserChoose(2);
  EXPECT_EQ(ui.RssiText.Text(), "none");
}

}  // namespace
}  // namespace velmora::testing
