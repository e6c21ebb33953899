// The card's values reach the Status and Configuration tabs, and the engineer's edits the card.
#include <gtest/gtest.h>

#include <thread>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

class LineCard : public ::testing::Test {
 protected:
  void SetUp() override {
    console.Do("choose CommPortSelect 1");
    ASSERT_TRUE(console.WaitFor("ProgramText", "text", "LINE CARD APP", 5s));
  }
  Workspace ws;
  Card card{ws, {"--start", "linecard", "--quiet", "--steady", "--temperature", "45"}};
  ConsoleApp console{"COM1=" + card.Link()};
};

TEST_F(LineCard, StatusAndSettingsShowTheCardsValuesInTheirColours) {
  console.Do("tab 1");
  EXPECT_TRUE(console.WaitFor("OpStateText", "text", "Locked", 15s));
  EXPECT_EQ(console.Get("OpStateText", "color"), "#00ff00");
  EXPECT_TRUE(console.WaitFor("RssiText", "text", " 26", 10s));
  EXPECT_EQ(console.Get("RssiText", "color"), "#00ff00");
  EXPECT_TRUE(console.WaitFor("TemperatureText", "text", " 45", 10s));
  EXPECT_EQ(console.Get("TemperatureText", "color"), "#ffff00");
  EXPECT_EQ(console.Get("Line1Hook"), "ON HOOK");
  EXPECT_EQ(console.Get("Line2Ring"), "RING OFF");

  console.Do("tab 0");
  EXPECT_TRUE(console.WaitFor("V35Select", "text", "CHANNEL 1", 10s));
  EXPECT_EQ(console.Get("SfdText"), "31");
  EXPECT_EQ(console.Get("GenericSelect"), "T1 & 12 KHz Tone");
  EXPECT_EQ(console.Get("TimeSlotText"), " 2");
  EXPECT_EQ(console.Get("CdmaText"), " 3");
  EXPECT_EQ(console.Get("FrequencyText"), " 1");
  for (const char* button : {"SfdButton", "GenericButton", "V35Button"})
    EXPECT_EQ(console.Get(button, "enabled"), "0") << button;
  EXPECT_TRUE(console.Get("BootLoaderText").find("Boot") != std::string::npos);
}

TEST_F(LineCard, LineEventsShowForTheSelectedCpeAndWaitForTheirTurnForAnother) {
  console.Do("tab 1");
  console.Do("choose CpeSelect 2");
  // A CPE reports its lines once its link is up.
  ASSERT_TRUE(console.WaitFor("OpStateText", "text", "Locked", 15s));
  card.Operator("hook 2 1 off");
  EXPECT_TRUE(console.WaitFor("Line1Hook", "text", "OFF HOOK", 5s));
  card.Operator("ring 0 2 on");
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(console.Get("Line2Ring"), "RING OFF");
  console.Do("choose CpeSelect 0");
  EXPECT_TRUE(console.WaitFor("Line2Ring", "text", "RING ON", 5s));
  EXPECT_EQ(console.Get("Line1Hook"), "ON HOOK");
}

TEST_F(LineCard, AnSfdValueTypedInTheFieldIsStoredInTheCardAndReadBack) {
  ASSERT_TRUE(console.WaitFor("SfdText", "text", "31", 10s));
  console.Do("key SfdText Backspace");
  console.Do("key SfdText Backspace");
  console.Do("type SfdText 4x2");  // the letter is refused
  EXPECT_EQ(console.Get("SfdText"), "42");
  EXPECT_EQ(console.Get("SfdButton", "enabled"), "1");
  console.Do("click SfdButton");
  EXPECT_TRUE(card.WaitForCommands({"wee 0 2A"}, 3s));
  // The card answers the write with its read-back, which disables the button again.
  EXPECT_TRUE(console.WaitFor("SfdButton", "enabled", "0", 3s));
  EXPECT_EQ(console.Get("SfdText"), "42");
}

}  // namespace
}  // namespace velmora::e2e
