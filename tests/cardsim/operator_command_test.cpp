// The operator's commands and the event script.
#include "cardsim/operator_command.h"

#include <gtest/gtest.h>

namespace velmora::cardsim {
namespace {

OperatorCommand Parsed(const std::string& text) {
  std::string error;
  const auto command = ParseOperatorCommand(text, error);
  EXPECT_TRUE(command.has_value()) << text << ": " << error;
  return command.value_or(OperatorCommand{});
}

std::string Refusal(const std::string& text) {
  std::string error;
  EXPECT_FALSE(ParseOperatorCommand(text, error).has_value()) << text;
  return error;
}

TEST(OperatorCommand, RingAndHookTakeCpeLineAndState) {
  const auto ring = Parsed("ring 2 1 off");
  EXPECT_EQ(ring.verb, OperatorVerb::kRing);
  EXPECT_EQ(ring.cpe, 2);
  EXPECT_EQ(ring.line, 1);
  EXPECT_FALSE(ring.flag);

  const auto hook = Parsed("hook 3 2 off");
  EXPECT_EQ(hook.verb, OperatorVerb::kHook);
  EXPECT_EQ(hook.cpe, 3);
  EXPECT_EQ(hook.line, 2);
  EXPECT_TRUE(hook.flag) << "off hook";
  EXPECT_FALSE(Parsed("hook 3 2 on").flag);
}

TEST(OperatorCommand, StateDefaultsToTheUsualEventAndCpeMayBeLeftOut) {
  EXPECT_TRUE(Parsed("ring 2 1").flag);
  EXPECT_TRUE(Parsed("hook 0 2").flag);
  const auto cpe_less = Parsed("ring 2 on");
  EXPECT_EQ(cpe_less.cpe, -1);
  EXPECT_EQ(cpe_less.line, 2);
  EXPECT_EQ(Parsed("drop").cpe, -1);
  EXPECT_EQ(Parsed("sfd 16").number, 16);
}

TEST(OperatorCommand, DropMayGiveTheSecondsUntilTheLinkReturns) {
  const auto drop = Parsed("drop 1 2.5");
  EXPECT_EQ(drop.cpe, 1);
  EXPECT_DOUBLE_EQ(drop.seconds, 2.5);
  EXPECT_DOUBLE_EQ(Parsed("drop 1").seconds, 0.0);
}

TEST(OperatorCommand, SayKeepsItsTextAsWritten) {
  EXPECT_EQ(Parsed("say  Subscriber 02  Channel 01 RING ON ").text,
            "Subscriber 02  Channel 01 RING ON");
}

TEST(OperatorCommand, OutOfRangeAndMalformedCommandsAreRefusedWithAReason) {
  EXPECT_NE(Refusal("ring 4 1 on"), "");
  EXPECT_NE(Refusal("ring 0 3 on"), "");
  EXPECT_NE(Refusal("ring on"), "");
  EXPECT_NE(Refusal("ring 0 1 2 on"), "");
  EXPECT_NE(Refusal("sfd 0 65536"), "");
  EXPECT_NE(Refusal("rssi 0 256"), "");
  EXPECT_NE(Refusal("temp hot"), "");
  EXPECT_NE(Refusal("noise 0"), "");
  EXPECT_NE(Refusal("flood many"), "");
  EXPECT_NE(Refusal("silent maybe"), "");
  EXPECT_NE(Refusal("quit now"), "");
  EXPECT_NE(Refusal("dance"), "");
  EXPECT_NE(Refusal("   "), "");
}

TEST(EventScript, EntriesComeInTimeOrderAndKeepTheirTextForTheLog) {
  std::string error;
  const auto script = ParseScript(
      "# demo\n"
      "5 drop 1 3\n"
      "\n"
      "2.5 ring 2 1 on\r\n"
      "2.5 hook 2 1 off\n"
      "0.25 say hello\n",
      error);
  ASSERT_TRUE(script.has_value()) << error;
  ASSERT_EQ(script->size(), 4u);
  EXPECT_EQ((*script)[0].at, std::chrono::milliseconds(250));
  EXPECT_EQ((*script)[1].text, "ring 2 1 on");
  EXPECT_EQ((*script)[2].text, "hook 2 1 off");
  EXPECT_EQ((*script)[3].at, std::chrono::seconds(5));
  EXPECT_EQ((*script)[3].command.verb, OperatorVerb::kDrop);
}

TEST(EventScript, BadLineFailsTheScriptWithItsLineNumber) {
  std::string error;
  EXPECT_FALSE(ParseScript("1 ring 0 1 on\n2 ring 9 1 on\n", error).has_value());
  EXPECT_EQ(error.rfind("line 2: ", 0), 0u) << error;
  EXPECT_FALSE(ParseScript("soon ring 0 1\n", error).has_value());
  EXPECT_EQ(error.rfind("line 1: ", 0), 0u) << error;
  EXPECT_FALSE(ParseScript("-1 reset\n", error).has_value());
}

}  // namespace
}  // namespace velmora::cardsim
