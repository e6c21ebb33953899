// EEPROM read-backs, the switch-set radio settings and the temperature.
#include <gtest/gtest.h>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

class ReadBackTest : public ConnectedConsoleTest {
 protected:
  void Start(const char* banner, std::int32_t type) {
    Receive(banner);
    ASSERT_EQ(s.ProgramType, type);
  }
  void Receive(const std::string& line) { fake.port.Feed(line + "\r\n"); }
  // Every change of a button's Enabled, in order.
  void Watch(CommandButton& button) {
    seen_.clear();
    button.SetObserver([this](Control& b, Prop p) {
      if (p == Prop::Enabled) seen_.push_back(b.Enabled());
    });
  }
  std::vector<bool> seen_;
};

class SettingsRepliesLineCardTest : public ReadBackTest {
 protected:
  void SetUp() override {
    ReadBackTest::SetUp();
    Start("Line Card Application Initialized", ProgramType::LineCardApp);
  }
};

class SettingsRepliesCpeTest : public ReadBackTest {
 protected:
  void SetUp() override {
    ReadBackTest::SetUp();
    Start("CPE Application Initialized", ProgramType::CpeApp);
  }
};

TEST_F(SettingsRepliesLineCardTest, SfdReadBackShowsTheDecimalValueAndLeavesUpdateDisabled) {
  Watch(ui.SfdButton);
  Receive("0000: 1F");
  EXPECT_EQ(ui.SfdText.Text(), "31");
  EXPECT_FALSE(ui.SfdButton.Enabled());
  // Setting the text enabled the button for a moment.
  EXPECT_EQ(seen_, (std::vector<bool>{true, false}));

  const struct {
    const char* line;
    const char* shown;
  } cases[] = {
      {"0000: ", "0"},          {"0000: 00FF", "255"}, {"0000: FFFF", "-1"},
      {"0000: 8000", "-32768"}, {"0000: 0001F", "31"}, {"0000: 12345678", "305419896"},
      {"0000: FFFFFFFF", "-1"}, {"0000: 1G", "1"},     {"0000: 1F", "31"},
  };
  for (const auto& k : cases) {
    ui.SfdText.UserEdit("8");  // the engineer's edits enable Update
    ui.SfdText.UserEdit("31");
    ASSERT_TRUE(ui.SfdButton.Enabled());
    Receive(k.line);
    EXPECT_EQ(ui.SfdText.Text(), k.shown) << k.line;
    EXPECT_FALSE(ui.SfdButton.Enabled()) << k.line;
  }
}

TEST_F(SettingsRepliesLineCardTest, TelephonyReadBackUsesTheLowBitsOnlyAbove4) {
  const struct {
    const char* value;
    int pcm;
    int entry;
  } cases[] = {
      {"06", 6, 2},   {"03", 3, 0},    {"04", 4, 0}, {"05", 5, 1},    {"07", 7, 3},
      {"FF", 255, 3}, {"00", 0, 0},    {"01", 1, 0}, {"40", 0x40, 0}, {"A5", 0xA5, 1},
      {"0006", 6, 2}, {"1F 2A", 0, 0},  // "1F2A" is no byte: nothing changes
  };
  for (const auto& k : cases) {
    s.EEPROM_VALUE_PCM = 0;
    ui.GenericSelect.UserChoose(1);
    Receive(std::string("0004: ") + k.value);
    EXPECT_EQ(s.EEPROM_VALUE_PCM, k.pcm) << k.value;
    if (std::string(k.value) == "1F 2A") {
      EXPECT_EQ(ui.GenericSelect.ListIndex(), 1);
      EXPECT_TRUE(ui.GenericButton.Enabled());
      continue;
    }
    EXPECT_EQ(ui.GenericSelect.ListIndex(), k.entry) << k.value;
    EXPECT_FALSE(ui.GenericButton.Enabled()) << k.value;
  }
  Receive("0004: 06");
  EXPECT_EQ(ui.GenericSelect.ItemText(ui.GenericSelect.ListIndex()), "T1 & 12 KHz Tone");
}

TEST_F(SettingsRepliesCpeTest, RangeReadBackSelectsGreaterOnlyForExactly1) {
  const struct {
    const char* value;
    int entry;
  } cases[] = {{"01", 1}, {"05", 0}, {"00", 0}, {"02", 0}, {"FF", 0}, {"0001", 1}};
  for (const auto& k : cases) {
    ui.GenericSelect.UserChoose(k.entry == 1 ? 0 : 1);
    Receive(std::string("0004: ") + k.value);
    EXPECT_EQ(ui.GenericSelect.ListIndex(), k.entry) << k.value;
    EXPECT_FALSE(ui.GenericButton.Enabled()) << k.value;
  }
  EXPECT_EQ(s.EEPROM_VALUE_PCM, 1);
  EXPECT_EQ(ui.GenericSelect.ItemText(1), "Greater than 25 miles");
}

TEST_F(SettingsRepliesLineCardTest, TelephonyValueOutsideAByteChangesNothingAndEndsTheLine) {
  Receive("0004: 06");
  ui.GenericSelect.UserChoose(3);
  for (const char* line : {"0004: 100 temperature: 0019", "0004: FFFF temperature: 0019"}) {
    Receive(line);
    EXPECT_EQ(s.EEPROM_VALUE_PCM, 6) << line;
    EXPECT_EQ(ui.GenericSelect.ListIndex(), 3) << line;
    EXPECT_TRUE(ui.GenericButton.Enabled()) << line;
    EXPECT_EQ(ui.TemperatureText.Text(), "") << line;
  }
}

TEST_F(SettingsRepliesCpeTest, V35ReadBackSelectsChannel1Or2ElseDisable) {
  const struct {
    const char* line;
    int entry;
  } cases[] = {
      {"0005: 02", 2},   {"0005: 01", 1},  {"0005: 03", 0}, {"0005: 00", 0},   {"0005: FFFF", 0},
      {"0005: 0002", 2}, {"0005: 102", 0}, {"0005: ", 0},   {"0005: 0001", 1},
  };
  for (const auto& k : cases) {
    ui.V35Select.UserChoose(k.entry == 2 ? 1 : 2);
    Receive(k.line);
    EXPECT_EQ(ui.V35Select.ListIndex(), k.entry) << k.line;
    EXPECT_FALSE(ui.V35Button.Enabled()) << k.line;
  }
  Receive("0005: 02");
  EXPECT_EQ(ui.V35Select.ItemText(ui.V35Select.ListIndex()), "CHANNEL 2");
  // The SFD read-back is the same for both programs.
  Receive("0000: 1F");
  EXPECT_EQ(ui.SfdText.Text(), "31");
  EXPECT_FALSE(ui.SfdButton.Enabled());
}

TEST_F(SettingsRepliesLineCardTest, FirstEepromMarkerInTheOrder0_4_5Decides) {
  ui.V35Select.UserChoose(2);
  Receive("0004: 07,0005: 00");
  EXPECT_EQ(ui.GenericSelect.ListIndex(), 3);
  EXPECT_EQ(ui.V35Select.ListIndex(), 2);
  EXPECT_TRUE(ui.V35Button.Enabled());

  ui.GenericSelect.UserChoose(1);
  Receive("0005: 02,0000: ");
  EXPECT_EQ(ui.SfdText.Text(), "2");
  EXPECT_EQ(ui.V35Select.ListIndex(), 2);
  EXPECT_TRUE(ui.V35Button.Enabled());

  Receive("0004: 06,0000: ");
  EXPECT_EQ(ui.SfdText.Text(), "6");
  EXPECT_EQ(ui.GenericSelect.ListIndex(), 1);
  EXPECT_TRUE(ui.GenericButton.Enabled());
}

TEST_F(SettingsRepliesLineCardTest, RadioSettingsSplitTheFirstByteIntoItsTwoDigits) {
  const struct {
    const char* line;
    const char* timeSlot;
    const char* frequency;
    const char* cdma;
  } cases[] = {
      {"FF12: 2D 00 00 00 00 00 00 00", " 2", " 1", " 3"},
      {"FF12: F0", " 3", " 0", " 0"},
      {"FF12: FF", " 3", " 3", " 3"},
      {"FF12: 7", " 3", " 3", " 1"},  // the line ends at position 7
      {"FF12: ", " 0", " 0", " 0"},
      {"FF12: 2DFF", " 2", " 1", " 3"},
      {"FF12: G5", " 0", " 1", " 1"},
      {"FF12: 2 ", " 2", " 0", " 0"},
      {">FF12: 2D", " 0", " 2", " 0"},  // positions 7-8 hold " 2"
  };
  for (const auto& k : cases) {
    for (TextBox* t : {&ui.TimeSlotText, &ui.FrequencyText, &ui.CdmaText}) t->SetText("none");
    Receive(k.line);
    EXPECT_EQ(ui.TimeSlotText.Text(), k.timeSlot) << k.line;
    EXPECT_EQ(ui.FrequencyText.Text(), k.frequency) << k.line;
    EXPECT_EQ(ui.CdmaText.Text(), k.cdma) << k.line;
  }
}

TEST_F(SettingsRepliesCpeTest, RadioSettingsAreTheSameForTheCpe) {
  Receive("FF12: 2D 11 22 33");
  EXPECT_EQ(ui.TimeSlotText.Text(), " 2");
  EXPECT_EQ(ui.FrequencyText.Text(), " 1");
  EXPECT_EQ(ui.CdmaText.Text(), " 3");
}

TEST_F(SettingsRepliesCpeTest, TemperatureIsASigned16BitHexadecimalNumber) {
  const struct {
    const char* line;
    const char* shown;
    Color colour;
  } cases[] = {
      {"temperature: 0019", " 25", kGreen},  {"temperature: FFF6", "-10", kGreen},
      {"temperature: 19", " 25", kGreen},    {"temperature: 0041", " 65", kRed},
      {"temperature: FFE2", "-30", kYellow}, {"temperature: ", " 0", kGreen},
      {"temperature: 00190", " 25", kGreen}, {"temperature: 7FFF", " 32767", kRed},
      {"temperature: 8000", "-32768", kRed}, {"temperature: 0028", " 40", kYellow},
      {">temperature: 0019", " 1", kGreen},  // positions 14-17 hold " 001"
  };
  for (const auto& k : cases) {
    ui.TemperatureText.SetText("none");
    Receive(k.line);
    EXPECT_EQ(ui.TemperatureText.Text(), k.shown) << k.line;
    EXPECT_EQ(ui.TemperatureText.BackColor(), k.colour) << k.line;
  }
}

TEST_F(SettingsRepliesLineCardTest, TemperatureIsTheSameForTheLineCard) {
  Receive("temperature: FFF6");
  EXPECT_EQ(ui.TemperatureText.Text(), "-10");
}

}  // namespace
}  // namespace velmora::testing
