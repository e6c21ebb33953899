// What the simulator's operator types: its command line, its commands and its event script.
#include "cardsim/options.h"

#include <gtest/gtest.h>

#include "cardsim/operator_command.h"

namespace velmora::cardsim {
namespace {

TEST(Options, BadValuesAndUnknownOptionsAreRefusedByName) {
  std::string error;
  EXPECT_FALSE(ParseOptions({"--quiet"}, error));
  EXPECT_NE(error.find("--link"), std::string::npos) << error;
  EXPECT_TRUE(ParseOptions({"--help"}, error)) << "help needs no link";
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--baud", "fast"},
                                             {"--cpes", "4"},
                                             {"--rssi", "1,2,3,4,5"},
                                             {"--slot", "4"},
                                             {"--eeprom", "4"},
                                             {"--eeprom", "100=1"},
                                             {"--start", "dos"},
                                             {"--app", "boot"},
                                             {"--frobnicate"},
                                             {"--quiet=yes"},
                                             {"--link"}}) {
    std::vector<std::string> full = {"--link", "/tmp/x"};
    full.insert(full.end(), args.begin(), args.end());
    EXPECT_FALSE(ParseOptions(full, error)) << args[0];
    EXPECT_NE(error.find(args[0].substr(0, args[0].find('='))), std::string::npos) << error;
  }
  EXPECT_FALSE(ParseOptions({"--link", "/tmp/x", "--start", "linecard", "--app", "cpe"}, error));
}

TEST(OperatorCommand, OutOfRangeAndMalformedCommandsAreRefusedWithAReason) {
  for (const char* text :
       {"ring 4 1 on", "ring 0 3 on", "ring on", "ring 0 1 2 on", "sfd 0 65536", "rssi 0 256",
        "temp hot", "noise 0", "flood many", "silent maybe", "quit now", "dance", "   "}) {
    std::string error;
    EXPECT_FALSE(ParseOperatorCommand(text, error)) << text;
    EXPECT_NE(error, "") << text;
  }
}

TEST(EventScript, EntriesComeInTimeOrderAndABadLineFailsTheScriptByNumber) {
  std::string error;
  const auto script =
      ParseScript("# demo\n5 drop 1 3\n\n2.5 ring 2 1 on\r\n2.5 hook 2 1 off\n", error);
  ASSERT_TRUE(script) << error;
  ASSERT_EQ(script->size(), 3u);
  EXPECT_EQ((*script)[0].at, std::chrono::milliseconds(2500));
  EXPECT_EQ((*script)[0].text, "ring 2 1 on");
  EXPECT_EQ((*script)[1].text, "hook 2 1 off");
  EXPECT_EQ((*script)[2].command.verb, OperatorVerb::kDrop);
  EXPECT_DOUBLE_EQ((*script)[2].command.seconds, 3.0);
  for (const auto& [text, line] : std::vector<std::pair<const char*, const char*>>{
           {"1 ring 0 1 on\n2 ring 9 1 on\n", "line 2: "},
           {"soon ring 0 1\n", "line 1: "},
           {"-1 reset\n", "line 1: "}}) {
    EXPECT_FALSE(ParseScript(text, error)) << text;
    EXPECT_EQ(error.rfind(line, 0), 0u) << error;
  }
}

}  // namespace
}  // namespace velmora::cardsim
