// The simulated card's conversation: the replies in the layouts the console cuts them at, its
// events, the boot loader's handshake and the program download. Protocol texts are written out
// here on purpose, so that a changed text in the simulator shows up as a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "card_driver.h"

namespace velmora::cardsim::testing {
namespace {

using std::chrono::seconds;

// The console's way of reading a field: characters counted from 1 at the line's start.
std::string Cut(const std::string& line, std::size_t from, std::size_t count) {
  return from - 1 < line.size() ? line.substr(from - 1, count) : std::string{};
}

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// Every text the console's reply parsers look for anywhere in a line.
const std::vector<std::string> kConsoleMarkers = {"Boot Loader Initialized",
                                                  "Line Card Application Initialized",
                                                  "CPE Application Initialized",
                                                  "Maximum CPU%",
                                                  "cpe_reset #",
                                                  "Stops Application",
                                                  "    Version:  ",
                                                  "op_status: ",
                                                  "Starting Ranging",
                                                  "Ranging Completed Successfully",
                                                  "Starting Acquisition",
                                                  "Communications Lost",
                                                  "Commanded Reset",
                                                  "SFD Loss Count: ",
                                                  "FF28: ",
                                                  "hook_state: ",
                                                  "ring_state: ",
                                                  "OFF HOOK",
                                                  "ON HOOK",
                                                  "RING OFF",
                                                  "RING ON",
                                                  "0000: ",
                                                  "0004: ",
                                                  "0005: ",
                                                  "FF12: ",
                                                  "temperature: ",
                                                  "Boot Loader Ready",
                                                  "Boot Loader Stopped"};

std::string MarkerIn(const std::string& line) {
  for (const auto& marker : kConsoleMarkers) {
    if (line.find(marker) != std::string::npos) return marker;
  }
  return {};
}

CardConfig LineCard() {
  return QuietConfig(Program::kLineCard);
}
CardConfig CpeCard() {
  return QuietConfig(Program::kCpe, Program::kCpe);
}
CardConfig BootLoaderAtPrompt(Program application = Program::kLineCard) {
  return QuietConfig(Program::kBootLoader, application);
}

// --- The line card application's replies ---------------------------------------------------

TEST(LineCardReplies, OpStatusHoldsTwoDecimalDigitsPerCpeInCpeOrder) {
  CardConfig config = LineCard();
  config.cpes_present = {true, true, false, false};
  CardDriver card(config);
  EXPECT_EQ(card.AskOne("op_status"), "op_status: 00000000");

  card.Wait(
      milliseconds(3000));  // CPE 0 ranged at 1.0 s, locked at 2.5 s; CPE 1 ranging from 1.7 s
  const std::string line = card.AskOne("op_status");
  EXPECT_EQ(line, "op_status: 02010000");
  EXPECT_EQ(Cut(line, 12, 2), "02");  // CPE 0
  EXPECT_EQ(Cut(line, 14, 2), "01");  // CPE 1
}

TEST(LineCardReplies, SignalStrengthHasOneHexByteAndABlankPerCpeAndZeroWithoutLink) {
  CardConfig config = LineCard();
  config.cpes_present = {true, true, false, true};
  config.rssi = {0x1A, 0x0C, 0x50, 0xFF};
  CardDriver card(config);
  card.Wait(seconds(6));

  const std::string line = card.AskOne("rdm ff28 4");
  EXPECT_EQ(line, "FF28: 1A 0C 00 FF ");
  EXPECT_EQ(Cut(line, 7, 2), "1A");
  EXPECT_EQ(Cut(line, 10, 2), "0C");
  EXPECT_EQ(Cut(line, 13, 2), "00");
  EXPECT_EQ(Cut(line, 16, 2), "FF");
}

TEST(LineCardReplies, SignalStrengthWandersOnlyALittleAroundItsValue) {
  CardConfig config = LineCard();
  config.steady = false;
  CardDriver card(config);
  card.Wait(seconds(6));
  bool changed = false;
  for (int i = 0; i < 50; ++i) {
    const std::string line = card.AskOne("rdm ff28 4");
    const int cpe0 = std::stoi(Cut(line, 7, 2), nullptr, 16);
    EXPECT_GE(cpe0, 0x1A - 2);
    EXPECT_LE(cpe0, 0x1A + 2);
    changed = changed || cpe0 != 0x1A;
  }
  EXPECT_TRUE(changed) << "a live signal is never perfectly still";
}

TEST(LineCardReplies, RadioSettingsByteComesFromTheSwitches) {
  CardDriver card(LineCard());
  EXPECT_EQ(card.AskOne("rdm ff12 8"), "FF12: 2D 00 00 00 00 00 00 00 ");

  CardConfig other = LineCard();
  other.radio_settings = 0x31;  // slot 3, code 0, channel 1
  CardDriver switched(other);
  EXPECT_EQ(Cut(switched.AskOne("rdm ff12 8"), 7, 2), "31");
}

TEST(LineCardReplies, LongMemoryReadsComeSixteenBytesALineEachWithItsAddress) {
  CardDriver card(LineCard());
  const auto lines = card.Ask("rdm 100 20");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 6), "0100: ");
  EXPECT_EQ(lines[0].size(), 6u + 16 * 3);
  EXPECT_EQ(lines[1].substr(0, 6), "0110: ");
}

TEST(LineCardReplies, EepromReadsGiveAddressAndByteInHex) {
  CardDriver card(LineCard());
  EXPECT_EQ(card.AskOne("ree 0"), "0000: 1F");
  EXPECT_EQ(card.AskOne("ree 4"), "0004: 06");
  EXPECT_EQ(card.AskOne("ree 5"), "0005: 01");
}

TEST(LineCardReplies, EepromWriteAnswersWithTheReadBackAndIsKept) {
  CardDriver card(LineCard());
  EXPECT_EQ(card.AskOne("wee 0 1E"), "0000: 1E");
  EXPECT_EQ(card.AskOne("wee 4 A6"), "0004: A6");
  EXPECT_EQ(card.AskOne("wee 5 2"), "0005: 02");
  EXPECT_EQ(card.AskOne("ree 0"), "0000: 1E");
  EXPECT_EQ(card.AskOne("ree 4"), "0004: A6");
  EXPECT_EQ(card.AskOne("ree 5"), "0005: 02");
}

TEST(LineCardReplies, EepromSurvivesAResetOfTheCard) {
  CardDriver card(LineCard());
  card.AskOne("wee 4 A6");
  card.Ask("reset");
  card.Wait(seconds(3));
  EXPECT_EQ(card.AskOne("ree 4"), "0004: A6");
}

TEST(LineCardReplies, EepromWriteOfAnImpossibleValueIsRefusedAndChangesNothing) {
  CardDriver card(LineCard());
  EXPECT_EQ(card.AskOne("wee 4 100"), "Invalid argument");
  EXPECT_EQ(card.AskOne("wee 4"), "Invalid argument");
  EXPECT_EQ(card.AskOne("wee 4 XY"), "Invalid argument");
  EXPECT_EQ(card.AskOne("ree 4"), "0004: 06");
}

TEST(LineCardReplies, TemperatureIsFourHexDigitsOfASixteenBitTwosComplement) {
  CardDriver card(LineCard());
  EXPECT_EQ(card.AskOne("temperature"), "temperature: 0019");
  card.Operator("temp -10");
  EXPECT_EQ(card.AskOne("temperature"), "temperature: FFF6");
  card.Operator("temp 65");
  EXPECT_EQ(card.AskOne("temperature"), "temperature: 0041");
}

TEST(LineCardReplies, BatteryAnswerHoldsNothingTheConsoleParses) {
  CardDriver card(LineCard());
  const std::string line = card.AskOne("battery");
  EXPECT_EQ(line, "Battery: 13.8 V");
  EXPECT_EQ(MarkerIn(line), "");
}

TEST(LineCardReplies, LineStateHasTwoDigitsPerLineCpeByCpeLineOneFirst) {
  CardDriver card(LineCard());
  card.Wait(seconds(6));
  ASSERT_TRUE(card.Operator("hook 2 2 off").ok);
  ASSERT_TRUE(card.Operator("ring 1 1 on").ok);

  const auto lines = card.Ask("line_state");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "hook_state: 0101010101000101");
  EXPECT_EQ(lines[1], "ring_state: 0000010000000000");
  // Where the console reads CPE i, line j: positions 13 + 4i + 2j.
  EXPECT_EQ(Cut(lines[0], 13 + 4 * 2 + 2 * 1, 2), "00");  // CPE 2, line 2: off hook
  EXPECT_EQ(Cut(lines[0], 13 + 4 * 2 + 2 * 0, 2), "01");  // CPE 2, line 1: on hook
  EXPECT_EQ(Cut(lines[1], 13 + 4 * 1 + 2 * 0, 2), "01");  // CPE 1, line 1: ringing
}

TEST(LineCardReplies, VersionsNameBootLoaderLineCardAndFirmwareOnSeparateLines) {
  CardDriver card(LineCard());
  const auto lines = card.Ask("versions");
  ASSERT_EQ(lines.size(), 3u);
  int boot = 0, application = 0, firmware = 0;
  for (const auto& line : lines) {
    ASSERT_EQ(line.substr(0, 14), "    Version:  ");
    const std::string text = line.substr(14);
    ASSERT_FALSE(text.empty());
    // The console's own choice of field, in its order.
    if (text.find("Boot") != std::string::npos) {
      ++boot;
    } else if (text.find("CPE") != std::string::npos) {
      ADD_FAILURE() << "the line card's versions name a CPE application: " << text;
    } else if (text.find("Line") != std::string::npos) {
      ++application;
    } else {
      ++firmware;
    }
  }
  EXPECT_EQ(boot, 1);
  EXPECT_EQ(application, 1);
  EXPECT_EQ(firmware, 1);
}

TEST(LineCardReplies, HelpListsCpeResetButNotTheCpeStop) {
  CardDriver card(LineCard());
  const auto lines = card.Ask("help");
  EXPECT_GT(lines.size(), 5u);
  EXPECT_TRUE(Contains(lines, "cpe_reset #"));
  EXPECT_FALSE(Contains(lines, "Stops Application"));
}

TEST(LineCardReplies, CpuLoadAnswerIsRecognisable) {
  CardDriver card(LineCard());
  EXPECT_EQ(card.AskOne("cpu").rfind("Maximum CPU% ", 0), 0u);
}

TEST(LineCardReplies, UnknownCommandGetsOneErrorLineThatNoParserTakes) {
  CardDriver card(LineCard());
  const std::string line = card.AskOne("op_status: 02");
  EXPECT_EQ(MarkerIn(line), "") << line;
  EXPECT_EQ(card.AskOne("frobnicate"), line);
}

TEST(LineCardReplies, CpeResetRestartsTheLinkOfThatCpe) {
  CardDriver card(LineCard());
  card.Wait(seconds(6));
  EXPECT_EQ(card.AskOne("cpe_reset 2"), "Subscriber 02 Commanded Reset");
  EXPECT_EQ(card.AskOne("op_status"), "op_status: 02020002");
  card.Wait(seconds(3));
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Subscriber 02 Starting Ranging"});
  card.Wait(milliseconds(1500));
  EXPECT_EQ(card.Lines(), (std::vector<std::string>{"Subscriber 02 Ranging Completed Successfully",
                                                    "Subscriber 02 SFD Loss Count: 0000"}));
}

// --- The CPE application's replies ----------------------------------------------------------

TEST(CpeReplies, OpStatusHasTheCpesOwnTwoDigitCode) {
  CardDriver card(CpeCard());
  EXPECT_EQ(card.AskOne("op_status"), "op_status: 00");
  card.Wait(milliseconds(2500));
  EXPECT_EQ(card.AskOne("op_status"), "op_status: 01");
  card.Wait(seconds(2));
  EXPECT_EQ(card.AskOne("op_status"), "op_status: 02");
}

TEST(CpeReplies, SignalStrengthIsTheFirstByteOnly) {
  CardDriver card(CpeCard());
  card.Wait(seconds(5));
  EXPECT_EQ(card.AskOne("rdm ff28 4"), "FF28: 1A 00 00 00 ");
}

TEST(CpeReplies, EepromRangeDefaultsToOne) {
  CardDriver card(CpeCard());
  EXPECT_EQ(card.AskOne("ree 4"), "0004: 01");
  EXPECT_EQ(card.AskOne("wee 4 0"), "0004: 00");
}

TEST(CpeReplies, LineStateHasTwoCodesEachLineOneFirst) {
  CardDriver card(CpeCard());
  card.Wait(seconds(5));
  ASSERT_TRUE(card.Operator("hook 1 off").ok);
  ASSERT_TRUE(card.Operator("ring 2 on").ok);
  const auto lines = card.Ask("line_state");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "hook_state: 0001");
  EXPECT_EQ(lines[1], "ring_state: 0001");
}

TEST(CpeReplies, VersionsNameTheCpeApplication) {
  CardDriver card(CpeCard());
  const auto lines = card.Ask("versions");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "    Version:  CPE Application 4.17");
  EXPECT_TRUE(Contains(lines, "Boot"));
}

TEST(CpeReplies, HelpListsStopsApplicationButNotCpeReset) {
  CardDriver card(CpeCard());
  const auto lines = card.Ask("help");
  EXPECT_TRUE(Contains(lines, "Stops Application"));
  EXPECT_FALSE(Contains(lines, "cpe_reset #"));
}

TEST(CpeReplies, StopHaltsTheApplicationUntilReset) {
  CardDriver card(CpeCard());
  EXPECT_EQ(card.AskOne("stop"), "Application Stopped");
  EXPECT_EQ(card.AskOne("op_status"), "Application stopped, type reset");
  card.Wait(seconds(10));
  EXPECT_TRUE(card.Lines().empty()) << "a stopped application brings no link up";
  EXPECT_EQ(card.Ask("reset").front(), "Boot Loader Initialized");
}

// --- Events ---------------------------------------------------------------------------------

TEST(LineCardEvents, CpesComeUpThroughRangingToLockWithinFiveSeconds) {
  CardDriver card(LineCard());
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Line Card Application Initialized"});
  card.Wait(seconds(5));
  const auto lines = card.Lines();
  for (int k = 0; k < 4; ++k) {
    const std::string subscriber = "Subscriber 0" + std::to_string(k) + " ";
    const auto ranging = std::find(lines.begin(), lines.end(), subscriber + "Starting Ranging");
    const auto locked =
        std::find(lines.begin(), lines.end(), subscriber + "Ranging Completed Successfully");
    ASSERT_NE(ranging, lines.end()) << k;
    ASSERT_NE(locked, lines.end()) << k;
    EXPECT_LT(ranging, locked);
    EXPECT_EQ(*(locked + 1), subscriber + "SFD Loss Count: 0000");
  }
  EXPECT_EQ(card.AskOne("op_status"), "op_status: 02020202");
}

TEST(LineCardEvents, AbsentCpesStayInAcquisition) {
  CardConfig config = LineCard();
  config.cpes_present = {false, true, false, false};
  CardDriver card(config);
  card.Wait(seconds(10));
  EXPECT_EQ(card.AskOne("op_status"), "op_status: 00020000");
}

TEST(LineCardEvents, SubscriberNumberStandsAtPositionsTwelveAndThirteen) {
  CardDriver card(LineCard());
  card.Wait(seconds(6));
  card.Lines();
  ASSERT_TRUE(card.Operator("ring 2 2 on").ok);
  ASSERT_TRUE(card.Operator("sfd 1 16").ok);
  const auto lines = card.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Subscriber 02 Channel 01 RING ON");
  EXPECT_EQ(Cut(lines[0], 12, 2), "02");
  // The channel number sits right behind "Channel "; 01 is the second telephone line.
  EXPECT_EQ(lines[0].substr(lines[0].find("Channel ") + 8, 2), "01");
  EXPECT_EQ(lines[1], "Subscriber 01 SFD Loss Count: 0010");
}

TEST(LineCardEvents, AnsweringARingingLineStopsTheBellFirst) {
  CardDriver card(LineCard());
  card.Wait(seconds(6));
  card.Lines();
  card.Operator("ring 0 1 on");
  card.Operator("hook 0 1 off");
  card.Operator("hook 0 1 on");
  EXPECT_EQ(card.Lines(),
            (std::vector<std::string>{
                "Subscriber 00 Channel 00 RING ON", "Subscriber 00 Channel 00 RING OFF",
                "Subscriber 00 Channel 00 OFF HOOK", "Subscriber 00 Channel 00 ON HOOK"}));
}

TEST(LineCardEvents, LineEventsOfACpeWithoutLinkAreRefused) {
  CardConfig config = LineCard();
  config.cpes_present = {true, false, false, false};
  CardDriver card(config);
  card.Wait(seconds(6));
  card.Lines();
  EXPECT_FALSE(card.Operator("ring 1 1 on").ok);
  EXPECT_FALSE(card.Operator("ring 1 on").ok) << "the line card needs to know which CPE";
  EXPECT_TRUE(card.Lines().empty());
}

TEST(LineCardEvents, DroppedCpeLosesItsLinesAndComesBackOnlyWhenAsked) {
  CardDriver card(LineCard());
  card.Wait(seconds(6));
  card.Operator("hook 3 1 off");
  card.Lines();
  ASSERT_TRUE(card.Operator("drop 3").ok);
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Subscriber 03 Communications Lost"});
  EXPECT_EQ(card.AskOne("op_status"), "op_status: 02020200");
  EXPECT_EQ(card.AskOne("rdm ff28 4").substr(15), "00 ");
  EXPECT_EQ(card.Ask("line_state")[0], "hook_state: 0101010101010101");

  card.Wait(seconds(30));
  EXPECT_TRUE(card.Lines().empty());
  ASSERT_TRUE(card.Operator("lock 3").ok);
  card.Wait(seconds(2));
  EXPECT_EQ(card.Lines(), (std::vector<std::string>{"Subscriber 03 Starting Ranging",
                                                    "Subscriber 03 Ranging Completed Successfully",
                                                    "Subscriber 03 SFD Loss Count: 0000"}));
}

TEST(LineCardEvents, DropForSomeSecondsReacquiresByItself) {
  CardDriver card(LineCard());
  card.Wait(seconds(6));
  card.Operator("drop 1 5");
  card.Lines();
  card.Wait(milliseconds(4900));
  EXPECT_TRUE(card.Lines().empty());
  card.Wait(milliseconds(200));
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Subscriber 01 Starting Ranging"});
}

TEST(LineCardEvents, WithoutQuietTheCardReportsNowAndThenOnItsOwn) {
  CardConfig config = LineCard();
  config.quiet = false;
  CardDriver card(config);
  card.Wait(seconds(6));
  card.Lines();
  std::vector<std::string> lines;
  for (int i = 0; i < 300; ++i) {
    card.Wait(seconds(1));
    for (auto& line : card.Lines()) lines.push_back(line);
  }
  EXPECT_TRUE(Contains(lines, "SFD Loss Count: ")) << "five minutes without a single report";
  for (const auto& line : lines) {
    EXPECT_EQ(line.rfind("Subscriber 0", 0), 0u) << line;
  }
}

TEST(CpeEvents, ComesUpThroughAcquisitionAndRangingWithoutSubscriberNumbers) {
  CardDriver card(CpeCard());
  card.Wait(seconds(4));
  EXPECT_EQ(card.Lines(),
            (std::vector<std::string>{"CPE Application Initialized", "Starting Acquisition",
                                      "Starting Ranging", "Ranging Completed Successfully",
                                      "SFD Loss Count: 0000"}));
}

TEST(CpeEvents, HookAndRingEventsNameTheChannelAtPositionsNineAndTen) {
  CardDriver card(CpeCard());
  card.Wait(seconds(4));
  card.Lines();
  // The CPE application has only itself: a CPE number given is ignored.
  ASSERT_TRUE(card.Operator("hook 3 2 off").ok);
  ASSERT_TRUE(card.Operator("ring 1 on").ok);
  ASSERT_TRUE(card.Operator("sfd 255").ok);
  const auto lines = card.Lines();
  EXPECT_EQ(lines, (std::vector<std::string>{"Channel 01 OFF HOOK", "Channel 00 RING ON",
                                             "SFD Loss Count: 00FF"}));
  EXPECT_EQ(Cut(lines[0], 9, 2), "01");
  EXPECT_EQ(Cut(lines[2], 17, 4), "00FF");
}

TEST(CpeEvents, LostLinkIsFollowedByAcquisitionAndTheHandsetStaysOffHook) {
  CardDriver card(CpeCard());
  card.Wait(seconds(4));
  card.Operator("hook 1 off");
  card.Lines();
  card.Operator("drop");
  EXPECT_EQ(card.Lines(),
            (std::vector<std::string>{"Communications Lost", "Starting Acquisition"}));
  EXPECT_EQ(card.Ask("line_state")[0], "hook_state: 0001");
  EXPECT_FALSE(card.Operator("ring 1 on").ok) << "ringing comes over the link";
  card.Operator("creset");
  EXPECT_TRUE(card.Lines().empty()) << "nothing to reset without a link";
}

// --- Debug text -----------------------------------------------------------------------------

TEST(DebugText, FlowsWhileTheLevelIsSetAndStopsAtZero) {
  CardDriver card(LineCard());
  card.Wait(seconds(6));
  card.Ask("debug 1");
  card.Wait(seconds(10));
  const auto chatter = card.Lines();
  EXPECT_GE(chatter.size(), 3u);
  for (const auto& line : chatter) EXPECT_EQ(MarkerIn(line), "") << line;

  card.Ask("debug 0");
  card.Wait(seconds(10));
  EXPECT_TRUE(card.Lines().empty());
}

TEST(DebugText, LoggingLevelTalksMoreThanLevelOne) {
  CardDriver card(LineCard());
  card.Wait(seconds(6));  // past the link events
  card.Ask("debug 1");
  card.Wait(seconds(10));
  const auto level_one = card.Lines().size();
  card.Ask("debug 80");
  card.Wait(seconds(10));
  EXPECT_GT(card.Lines().size(), 3 * level_one);
}

TEST(DebugText, ResetSilencesIt) {
  CardDriver card(LineCard());
  card.Ask("debug 80");
  card.Ask("reset");
  card.Wait(seconds(3));
  card.Lines();
  card.Wait(seconds(5));
  for (const auto& line : card.Lines()) EXPECT_EQ(line.find("dbg"), std::string::npos) << line;
}

// --- The boot loader ------------------------------------------------------------------------

TEST(BootLoader, AnswersCpuHelpAndVersionsAtItsPrompt) {
  CardDriver card(BootLoaderAtPrompt());
  EXPECT_TRUE(card.Lines().empty()) << "held in the boot loader, the card starts silent";
  EXPECT_EQ(card.AskOne("cpu").rfind("Maximum CPU% ", 0), 0u);

  const auto help = card.Ask("help");
  EXPECT_GT(help.size(), 2u);
  EXPECT_FALSE(Contains(help, "cpe_reset #"));
  EXPECT_FALSE(Contains(help, "Stops Application"));

  const auto versions = card.Ask("versions");
  ASSERT_FALSE(versions.empty());
  EXPECT_EQ(versions[0], "    Version:  Boot Loader 2.04");
  for (const auto& line : versions) EXPECT_EQ(line.substr(0, 14), "    Version:  ");
  EXPECT_FALSE(Contains(versions, "Line"));
  EXPECT_FALSE(Contains(versions, "CPE"));
}

TEST(BootLoader, ResetGivesInitializedAtOnceAndReadyAfterThreeHundredMilliseconds) {
  CardDriver card(LineCard());
  card.Wait(seconds(6));
  EXPECT_EQ(card.Ask("reset"), std::vector<std::string>{"Boot Loader Initialized"});
  card.Wait(milliseconds(299));
  EXPECT_TRUE(card.Lines().empty());
  card.Wait(milliseconds(1));
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Boot Loader Ready"});
}

TEST(BootLoader, StopWithinTwoSecondsOfReadyKeepsTheBootLoader) {
  CardDriver card(LineCard());
  card.Ask("reset");
  card.Wait(milliseconds(300));
  card.Lines();
  card.Wait(milliseconds(1990));
  EXPECT_EQ(card.Ask("stop"), std::vector<std::string>{"Boot Loader Stopped"});
  card.Wait(seconds(10));
  EXPECT_TRUE(card.Lines().empty()) << "no application may start after a stop";
  EXPECT_EQ(card.card.CurrentProgram(), Program::kBootLoader);
}

TEST(BootLoader, WithoutStopTheApplicationStartsTwoSecondsAfterReady) {
  CardDriver card(LineCard());
  card.Ask("reset");
  card.Wait(milliseconds(300));
  card.Lines();
  card.Wait(milliseconds(1999));
  EXPECT_TRUE(card.Lines().empty());
  card.Wait(milliseconds(1));
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Line Card Application Initialized"});
  EXPECT_EQ(card.card.CurrentProgram(), Program::kLineCard);
}

TEST(BootLoader, StartsTheApplicationItWasGiven) {
  CardDriver card(BootLoaderAtPrompt(Program::kCpe));
  card.Ask("reset");
  card.Wait(milliseconds(2300));
  EXPECT_EQ(card.Lines(),
            (std::vector<std::string>{"Boot Loader Ready", "CPE Application Initialized"}));
}

TEST(BootLoader, StopBeforeReadyIsNotHeard) {
  CardDriver card(LineCard());
  card.Ask("reset");
  card.Wait(milliseconds(100));
  EXPECT_TRUE(card.Ask("stop").empty());
  card.Wait(milliseconds(2200));
  EXPECT_EQ(card.Lines(),
            (std::vector<std::string>{"Boot Loader Ready", "Line Card Application Initialized"}));
}

TEST(BootLoader, StopTooLateReachesTheApplication) {
  CardDriver card(LineCard());
  card.Ask("reset");
  card.Wait(milliseconds(2300));
  card.Lines();
  EXPECT_EQ(card.AskOne("stop"), "Unknown command, type help");
}

TEST(BootLoader, AnswersHelpWhileWaitingForStop) {
  CardDriver card(LineCard());
  card.Ask("reset");
  card.Wait(milliseconds(300));
  card.Lines();
  EXPECT_EQ(card.Ask("help").front(), "Boot Loader Commands");
  card.Wait(milliseconds(500));
  EXPECT_EQ(card.Ask("stop"), std::vector<std::string>{"Boot Loader Stopped"});
}

TEST(BootLoader, ResetStartsAfreshAndForgetsWhatWasQueued) {
  CardDriver card(LineCard());
  card.Send("help\r\nreset\r\n");
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Boot Loader Initialized"});
}

// --- Program download -----------------------------------------------------------------------

// Three records: 16 data bytes, 16 more, and the end record.
const std::string kGoodHex =
    ":10010000214601360121470136007EFE09D2190140\r\n"
    ":100110002146017E17C20001FF5F16002148011928\r\n"
    ":00000001FF\r\n";

// Brings the card to "Boot Loader Stopped" as the console's download does.
void StopInBootLoader(CardDriver& card) {
  card.Send("\r\nreset\r\n");
  card.Wait(milliseconds(300));
  card.Lines();
  card.Send("stop\r\n");
  ASSERT_EQ(card.Lines(), std::vector<std::string>{"Boot Loader Stopped"});
}

TEST(ProgramReception, GoodFileIsKeptByteForByteAndJudgedAtItsEndRecord) {
  CardDriver card(LineCard());
  StopInBootLoader(card);
  card.Send(kGoodHex);
  EXPECT_EQ(card.Lines(),
            std::vector<std::string>{"Program received: 3 records, 32 data bytes, checksums OK"});
  EXPECT_EQ(card.recording.programs_begun, 1);
  EXPECT_EQ(card.recording.program_file, kGoodHex);
}

TEST(ProgramReception, FileSentInBlocksOfAnySizeIsJudgedTheSame) {
  CardDriver card(LineCard());
  StopInBootLoader(card);
  std::string file;
  for (int i = 0; i < 200; ++i) file += kGoodHex.substr(0, 90);  // 400 data records
  file += ":00000001FF\r\n";
  for (std::size_t at = 0; at < file.size(); at += 7) card.Send(file.substr(at, 7));
  EXPECT_EQ(card.Lines(), std::vector<std::string>{
                              "Program received: 401 records, 6400 data bytes, checksums OK"});
  EXPECT_EQ(card.recording.program_file, file);
}

TEST(ProgramReception, BadChecksumIsReportedWithItsRecordNumber) {
  CardDriver card(LineCard());
  StopInBootLoader(card);
  std::string file = kGoodHex;
  file[file.find("28\r\n")] = '3';  // the second record's checksum
  card.Send(file);
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Program error: bad checksum in record 2"});
  EXPECT_EQ(card.recording.program_file, file) << "a bad file is still kept as received";
}

TEST(ProgramReception, FileWithoutEndRecordIsJudgedAfterOneSecondOfSilence) {
  CardDriver card(LineCard());
  StopInBootLoader(card);
  card.Send(kGoodHex.substr(0, 88));
  card.Wait(milliseconds(999));
  EXPECT_TRUE(card.Lines().empty());
  card.Wait(milliseconds(1));
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Program error: no end record after 2 records"});
}

TEST(ProgramReception, NoSilenceVerdictBeforeTheFirstByte) {
  CardDriver card(LineCard());
  StopInBootLoader(card);
  card.Wait(seconds(20));
  EXPECT_TRUE(card.Lines().empty());
  card.Send(kGoodHex);
  EXPECT_EQ(card.Lines().size(), 1u);
}

TEST(ProgramReception, LineFeedOfTheStopCommandIsNotPartOfTheFile) {
  CardDriver card(LineCard());
  card.Ask("reset");
  card.Wait(milliseconds(300));
  card.Send("stop\r");
  card.Send("\n" + kGoodHex);
  EXPECT_EQ(card.recording.program_file, kGoodHex);
}

TEST(ProgramReception, EndRecordWithoutLineEndStillEndsTheFile) {
  CardDriver card(LineCard());
  StopInBootLoader(card);
  card.Send(kGoodHex.substr(0, kGoodHex.size() - 2));
  EXPECT_EQ(card.Lines().size(), 1u);
}

TEST(ProgramReception, BytesAfterTheEndRecordStillLandInTheFile) {
  // The console may fill its last block up; the boot loader keeps the transfer as it came.
  CardDriver card(LineCard());
  StopInBootLoader(card);
  const std::string padded = kGoodHex + std::string(300, '\0');
  card.Send(padded);
  card.Wait(milliseconds(500));
  EXPECT_EQ(card.Lines().size(), 1u);
  EXPECT_EQ(card.recording.program_file, padded);
}

TEST(ProgramReception, NextResetAfterTheVerdictStartsTheApplication) {
  CardDriver card(CpeCard());
  StopInBootLoader(card);
  card.Send(kGoodHex);
  card.Wait(seconds(8));  // the console's flashing time
  card.Lines();
  EXPECT_EQ(card.Ask("\r\nreset"), std::vector<std::string>{"Boot Loader Initialized"});
  card.Wait(milliseconds(2300));
  EXPECT_EQ(card.Lines(),
            (std::vector<std::string>{"Boot Loader Ready", "CPE Application Initialized"}));
}

TEST(ProgramReception, BootLoaderAnswersCommandsAgainAfterTheTransfer) {
  CardDriver card(LineCard());
  StopInBootLoader(card);
  card.Send(kGoodHex);
  card.Wait(seconds(2));
  card.Lines();
  EXPECT_EQ(card.AskOne("cpu").rfind("Maximum CPU% ", 0), 0u);
}

TEST(ProgramReception, ResetInTheMiddleBreaksTheTransferOffAndRestartsTheCard) {
  // An aborted download: the rest of the queued file, then the console's reset lines.
  CardDriver card(LineCard());
  StopInBootLoader(card);
  const std::string part = kGoodHex.substr(0, 88);
  card.Send(part + "\r\nreset\r\n");
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Boot Loader Initialized"});
  EXPECT_EQ(card.recording.program_file, part + "\r\n");
  ASSERT_EQ(card.recording.verdicts.size(), 1u);
  EXPECT_EQ(card.recording.verdicts[0],
            "Program error: transfer broken off by reset after 2 records");
  EXPECT_EQ(card.recording.commands.back(), "boot reset");
}

TEST(ProgramReception, EachDownloadStartsANewFile) {
  CardDriver card(LineCard());
  StopInBootLoader(card);
  card.Send(kGoodHex);
  card.Wait(seconds(2));
  StopInBootLoader(card);
  card.Send(":00000001FF\r\n");
  EXPECT_EQ(card.recording.programs_begun, 2);
  EXPECT_EQ(card.recording.program_file, ":00000001FF\r\n");
}

// --- Input ----------------------------------------------------------------------------------

TEST(CardInput, CommandEndsAtCrLfAtABareCrOrAtABareLf) {
  CardDriver card(LineCard());
  card.Lines();
  card.Send("ree 0\r\nree 4\rree 5\n");
  EXPECT_EQ(card.Lines(), (std::vector<std::string>{"0000: 1F", "0004: 06", "0005: 01"}));
}

TEST(CardInput, CommandSplitOverPiecesIsAssembled) {
  CardDriver card(LineCard());
  card.Lines();
  card.Send("op_st");
  card.Send("atus\r");
  EXPECT_EQ(card.Lines().size(), 1u);
  card.Send("\n");
  EXPECT_TRUE(card.Lines().empty()) << "the LF of a split CR LF is no second command";
}

TEST(CardInput, BlanksAroundACommandAndEmptyLinesAreIgnored) {
  CardDriver card(LineCard());
  card.Lines();
  card.Send("\r\n\r\n   ree 4  \t\r\n");
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"0004: 06"});
}

TEST(CardInput, EveryCompleteCommandIsTracedOnceWithItsProgram) {
  CardDriver card(LineCard());
  card.Send("cpu\r\n\r\nreset\r\n");
  card.Wait(milliseconds(300));
  card.Send("help\r\n");
  EXPECT_EQ(card.recording.commands,
            (std::vector<std::string>{"linecard cpu", "linecard reset", "boot help"}));
}

TEST(CardInput, OverlongLineIsRefusedWithoutGrowingTheBuffer) {
  CardDriver card(LineCard());
  card.Lines();
  card.Send(std::string(100000, 'x') + "\r\n");
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Command too long"});
  EXPECT_EQ(card.AskOne("ree 4"), "0004: 06");
}

TEST(CardInput, RandomBytesNeverBreakTheCard) {
  for (Program program : {Program::kBootLoader, Program::kLineCard, Program::kCpe}) {
    CardConfig config =
        QuietConfig(program, program == Program::kCpe ? Program::kCpe : Program::kLineCard);
    CardDriver card(config);
    std::mt19937 random(42);
    for (int round = 0; round < 2000; ++round) {
      std::string bytes(static_cast<std::size_t>(random() % 64), '\0');
      for (char& c : bytes) c = static_cast<char>(random() % 256);
      card.Send(bytes);
      card.Wait(milliseconds(random() % 50));
      card.card.TakeOutput();
    }
    card.Send("\r\nreset\r\n");
    card.Wait(milliseconds(2400));
    EXPECT_FALSE(card.card.TakeOutput().empty()) << ProgramName(program);
  }
}

// --- The operator's mischief ----------------------------------------------------------------

TEST(CardOperator, SilentCardAnswersNothingAndTalksAgainAfterwards) {
  CardDriver card(LineCard());
  card.Operator("silent on");
  EXPECT_TRUE(card.Ask("cpu").empty());
  card.Wait(seconds(6));
  EXPECT_TRUE(card.Lines().empty()) << "events too stay unsaid";
  card.Operator("silent off");
  EXPECT_EQ(card.AskOne("ree 5"), "0005: 01");
  EXPECT_EQ(card.recording.commands.front(), "silent cpu");
}

TEST(CardOperator, NoiseHasNoLineEndsAndGarblesTheCardUntilItIsOver) {
  CardConfig config = LineCard();
  config.noise_bytes_per_second = 5760;
  CardDriver card(config);
  card.card.TakeOutput();
  card.Operator("noise 1");
  card.Send("cpu\r\n");
  card.Wait(milliseconds(500));
  const std::string garbage = card.card.TakeOutput();
  EXPECT_GT(garbage.size(), 2000u);
  EXPECT_EQ(garbage.find_first_of("\r\n"), std::string::npos);
  card.Wait(milliseconds(600));
  card.card.TakeOutput();
  EXPECT_EQ(card.AskOne("ree 0"), "0000: 1F");
}

TEST(CardOperator, FloodGivesTheBytesAskedForInLinesMadeAsTheLineTakesThem) {
  CardDriver card(LineCard());
  card.card.TakeOutput();
  card.Operator("flood 1000000");
  EXPECT_TRUE(card.card.Unpaced());
  std::size_t total = 0;
  std::size_t largest = 0;
  std::string tail;
  while (!card.card.PendingOutput().empty()) {
    const std::string chunk = card.card.TakeOutput();
    largest = std::max(largest, chunk.size());
    total += chunk.size();
    tail = chunk;
  }
  EXPECT_EQ(total, 1000000u);
  EXPECT_LT(largest, 64u * 1024) << "the flood must not sit in memory";
  EXPECT_EQ(tail.substr(tail.size() - 2), "\r\n");
  EXPECT_FALSE(card.card.Unpaced());
}

TEST(CardOperator, TextNobodyTakesIsBounded) {
  CardDriver card(LineCard());
  for (int i = 0; i < 5000; ++i) card.Send("help\r\n");
  EXPECT_LE(card.card.PendingOutput().size(), Card::kMaxQueuedOutput);
  EXPECT_GT(card.card.PendingOutput().size(), Card::kMaxQueuedOutput / 2);
}

TEST(CardOperator, SayPutsTheTextOnTheLineAsItIs) {
  CardDriver card(LineCard());
  card.Lines();
  card.Operator("say   Subscriber 02 Channel 01 RING ON");
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Subscriber 02 Channel 01 RING ON"});
}

TEST(CardOperator, ResetButtonRestartsLikeTheResetCommand) {
  CardDriver card(CpeCard());
  card.Lines();
  ASSERT_TRUE(card.Operator("reset").ok);
  EXPECT_EQ(card.Lines(), std::vector<std::string>{"Boot Loader Initialized"});
}

TEST(CardOperator, LinkCommandsAreRefusedInTheBootLoader) {
  CardDriver card(BootLoaderAtPrompt());
  EXPECT_FALSE(card.Operator("ring 0 1 on").ok);
  EXPECT_FALSE(card.Operator("drop 0").ok);
  EXPECT_TRUE(card.Lines().empty());
}

}  // namespace
}  // namespace velmora::cardsim::testing
