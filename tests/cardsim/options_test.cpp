// What the simulator's operator types: its command line and its commands.
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

}  // namespace
}  // namespace velmora::cardsim
