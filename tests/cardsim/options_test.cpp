// The simulator's command line.
#include "cardsim/options.h"

#include <gtest/gtest.h>

namespace velmora::cardsim {
namespace {

std::optional<Options> Parse(std::vector<std::string> args, std::string* error_out = nullptr) {
  std::string error;
  auto options = ParseOptions(args, error);
  if (error_out != nullptr) *error_out = error;
  return options;
}

TEST(Options, LinkIsRequired) {
  std::string error;
  EXPECT_FALSE(Parse({"--quiet"}, &error).has_value());
  EXPECT_NE(error.find("--link"), std::string::npos);
  EXPECT_TRUE(Parse({"--help"}).has_value()) << "help needs no link";
}

TEST(Options, DefaultIsTheLineCardApplicationRunning) {
  const auto options = Parse({"--link", "/tmp/x"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->card.start, Program::kLineCard);
  EXPECT_EQ(options->card.application, Program::kLineCard);
  EXPECT_EQ(options->baud, 0);
  EXPECT_EQ(options->card.radio_settings, 0x2D);
}

TEST(Options, StartingAnApplicationImpliesItAndTheBootLoaderStartsTheChosenOne) {
  const auto cpe = Parse({"--link=/tmp/x", "--start", "cpe"});
  ASSERT_TRUE(cpe);
  EXPECT_EQ(cpe->card.application, Program::kCpe);

  const auto boot = Parse({"--link", "/tmp/x", "--start", "boot", "--app", "cpe"});
  ASSERT_TRUE(boot);
  EXPECT_EQ(boot->card.start, Program::kBootLoader);
  EXPECT_EQ(boot->card.application, Program::kCpe);

  const auto app_only = Parse({"--link", "/tmp/x", "--app", "cpe"});
  ASSERT_TRUE(app_only);
  EXPECT_EQ(app_only->card.start, Program::kCpe);

  std::string error;
  EXPECT_FALSE(Parse({"--link", "/tmp/x", "--start", "linecard", "--app", "cpe"}, &error));
  EXPECT_FALSE(Parse({"--link", "/tmp/x", "--app", "boot"}, &error));
}

TEST(Options, ValuesAreCheckedAndReadIntoTheCard) {
  const auto options = Parse(
      {"--link",   "/tmp/x", "--baud",   "57600", "--seed",  "9",        "--cpes",        "0,2",
       "--rssi",   "30,8",   "--slot",   "3",     "--code",  "0",        "--channel",     "2",
       "--eeprom", "4=A6",   "--eeprom", "0=1e",  "--quiet", "--steady", "--temperature", "-5"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->baud, 57600);
  EXPECT_DOUBLE_EQ(options->card.noise_bytes_per_second, 5760.0);
  EXPECT_EQ(options->card.seed, 9u);
  EXPECT_TRUE(options->seed_given);
  EXPECT_EQ(options->card.cpes_present, (std::array<bool, 4>{true, false, true, false}));
  EXPECT_EQ(options->card.rssi[0], 30);
  EXPECT_EQ(options->card.rssi[1], 8);
  EXPECT_EQ(options->card.radio_settings, 0x32);
  ASSERT_EQ(options->card.eeprom.size(), 2u);
  EXPECT_EQ(options->card.eeprom[0], (std::pair<std::uint8_t, std::uint8_t>{4, 0xA6}));
  EXPECT_EQ(options->card.eeprom[1], (std::pair<std::uint8_t, std::uint8_t>{0, 0x1E}));
  EXPECT_TRUE(options->card.quiet);
  EXPECT_TRUE(options->card.steady);
  EXPECT_EQ(options->card.temperature, -5);
}

TEST(Options, BadValuesAndUnknownOptionsAreRefusedByName) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--baud", "fast"},
                                             {"--cpes", "4"},
                                             {"--rssi", "1,2,3,4,5"},
                                             {"--slot", "4"},
                                             {"--eeprom", "4"},
                                             {"--eeprom", "100=1"},
                                             {"--start", "dos"},
                                             {"--frobnicate"},
                                             {"--quiet=yes"},
                                             {"--link"}}) {
    std::vector<std::string> full = {"--link", "/tmp/x"};
    full.insert(full.end(), args.begin(), args.end());
    std::string error;
    EXPECT_FALSE(Parse(full, &error)) << args[0];
    EXPECT_NE(error.find(args[0].substr(0, args[0].find('='))), std::string::npos) << error;
  }
}

TEST(Options, HelpSaysWhatTheSimulatorIsForAndDocumentsEveryOption) {
  const std::string help = HelpText();
  EXPECT_NE(help.find("training, demos"), std::string::npos);
  for (const char* option :
       {"--link",      "--start",  "--app",    "--baud",    "--program-out", "--record-sent",
        "--trace",     "--script", "--seed",   "--quiet",   "--steady",      "--cpes",
        "--rssi",      "--slot",   "--code",   "--channel", "--temperature", "--eeprom",
        "--quiet-log", "--help",   "--version"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  for (const char* command :
       {"ring", "hook", "drop", "lock", "creset", "sfd", "rssi", "temp", "say", "flood", "noise",
        "silent", "unplug", "replug", "reset", "status", "quit"}) {
    EXPECT_NE(help.find(std::string("\n  ") + command + " "), std::string::npos) << command;
  }
}

}  // namespace
}  // namespace velmora::cardsim
