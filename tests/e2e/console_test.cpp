// The real console against a healthy simulated card: what an engineer sees and does, and the
// files and ports it refuses.
#include <gtest/gtest.h>

#include <array>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

using Console = CardAndConsole;

TEST_F(Console, FindsALineCardThroughCpuAndHelpPollsItInOrderAndFollowsItsRestart) {
  // A missing device is not listed at all.
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "linecard"}, "LINE CARD APP", ",COM2=/nothing/here"));
  EXPECT_EQ(console->Get("CommPortSelect", "count"), "2");
  EXPECT_EQ(console->Get("ProgramText", "color"), "#00ff00");
  // "cpu" made the console assume the boot loader, whose "help" listing named the line card;
  // then the first round of polling (its exact order is the scheduler's unit tests').
  EXPECT_TRUE(CardTook({"cpu", "help", "rdm ff28 4", "ree 0", "battery", "ree 5", "versions",
                        "op_status", "line_state", "debug 1", "rdm ff12 8"},
                       14s));

  card->Operator("reset");
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", "BOOT LOADER", 3s));
  EXPECT_EQ(console->Get("ProgramText", "color"), "#ffff00");
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", "LINE CARD APP", 6s));
  console.reset();
  // Terminated, the simulated card ends cleanly and takes its link away.
  EXPECT_EQ(card->Stop(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(card->Link()));
}

TEST_F(Console, ShowsTheCardsValuesInTheirColoursAndAnEditedSettingReachesTheEeprom) {
  ASSERT_NO_FATAL_FAILURE(
      Connect({"--start", "linecard", "--steady", "--temperature", "45"}, "LINE CARD APP"));
  console->Do("tab 1");
  for (const auto& [field, text, colour] :
       std::vector<std::array<const char*, 3>>{{"OpStateText", "Locked", "#00ff00"},
                                               {"RssiText", " 26", "#00ff00"},
                                               {"TemperatureText", " 45", "#ffff00"},
                                               {"Line1Hook", "ON HOOK", nullptr},
                                               {"Line2Ring", "RING OFF", nullptr}}) {
    EXPECT_TRUE(console->WaitFor(field, "text", text, 15s)) << field << ": " << console->Get(field);
    if (colour) {
      EXPECT_EQ(console->Get(field, "color"), colour) << field;
    }
  }
  // Line events show for the CPE chosen; another CPE's wait for their turn.
  console->Do("choose CpeSelect 2");
  ASSERT_TRUE(console->WaitFor("OpStateText", "text", "Locked", 15s));
  card->Operator("hook 2 1 off\nring 0 2 on\nhook 2 2 off");
  EXPECT_TRUE(console->WaitFor("Line2Hook", "text", "OFF HOOK", 5s));
  EXPECT_EQ(console->Get("Line1Hook"), "OFF HOOK");
  EXPECT_EQ(console->Get("Line2Ring"), "RING OFF");
  console->Do("choose CpeSelect 0");
  EXPECT_TRUE(console->WaitFor("Line2Ring", "text", "RING ON", 5s));
  EXPECT_EQ(console->Get("Line1Hook"), "ON HOOK");

  console->Do("tab 0");
  for (const auto& [field, text] :
       std::vector<std::array<const char*, 2>>{{"V35Select", "CHANNEL 1"},
                                               {"GenericSelect", "T1 & 12 KHz Tone"},
                                               {"SfdText", "31"},
                                               {"TimeSlotText", " 2"},
                                               {"CdmaText", " 3"},
                                               {"FrequencyText", " 1"}})
    EXPECT_TRUE(console->WaitFor(field, "text", text, 10s)) << field << ": " << console->Get(field);
  for (const char* button : {"SfdButton", "GenericButton", "V35Button"})
    EXPECT_EQ(console->Get(button, "enabled"), "0") << button;
  EXPECT_NE(console->Get("BootLoaderText").find("Boot"), std::string::npos);
  console->Do("choose GenericSelect 3");
  EXPECT_EQ(console->Get("GenericButton", "enabled"), "1");
  // Typed or pasted, a field keeps only the digits.
  console->Do("key SfdText Backspace");
  console->Do("key SfdText Backspace");
  console->Do("paste SfdText 4x abc");
  EXPECT_EQ(console->Get("SfdText"), "4");
  console->Do("type SfdText x2");
  EXPECT_EQ(console->Get("SfdText"), "42");
  console->Do("click SfdButton");
  EXPECT_TRUE(CardTook({"wee 0 2A"}, 3s));
  // The card answers the write with its read-back, which disables the button again.
  EXPECT_TRUE(console->WaitFor("SfdButton", "enabled", "0", 3s));
  EXPECT_EQ(console->Get("SfdText"), "42");
  EXPECT_EQ(Took("wee 0 2A"), 1);
}

TEST_F(Console, TheTerminalSendsTypedCommandsAndLogsExactlyWhatTheCardSent) {
  const std::string sent = ws.Path("sent.bin"), log = ws.Path("log.txt");
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "cpe", "--record-sent", sent}, "CPE APP"));
  EXPECT_EQ(console->Get("CpeSelect", "visible"), "0");
  console->Do("tab 2");
  const auto clear = [&] {
    for (int i = 0; i < 5; ++i) console->Do("key CommandLineText Backspace");
  };
  for (const char* command : {"ree 4", "ree 5"}) {
    clear();
    console->Do(std::string("type CommandLineText ") + command);
    console->Do("key CommandLineText Return");
    EXPECT_TRUE(CardTook({command}, 3s)) << command;
  }
  EXPECT_TRUE(WaitUntil(
      [&] { return console->Get("TerminalText").find("0005: 01") != std::string::npos; }, 3s));
  EXPECT_EQ(Took("ree 5"), 1);

  // A log started during a flood holds, behind what the file held, exactly what the card sent
  // from about then on.
  std::ofstream(log) << "old\n";
  console->Do("answer-file " + log);
  card->Operator("flood 8000000");
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::file_size(sent) > 1000000; }, 10s));
  const std::size_t before = std::filesystem::file_size(sent);
  console->Do("click LoggingButton");
  ASSERT_TRUE(console->WaitFor("LoggingButton", "text", "Stop Logging", 5s));
  // The flood ends and the card falls quiet; then logging stops.
  for (std::uintmax_t last = 0, now; (now = std::filesystem::file_size(sent)) != last; last = now)
    std::this_thread::sleep_for(200ms);
  console->Do("click LoggingButton");
  ASSERT_TRUE(console->WaitFor("LoggingButton", "text", "Activate Logging", 5s));
  const std::string all = Slurp(sent), logged = Slurp(log);
  ASSERT_GT(logged.size(), 1000000u);
  ASSERT_EQ(logged.substr(0, 4), "old\n");
  // The line and the console may still hold a little of what was sent before the click.
  const std::size_t start =
      all.find(logged.substr(4, 65536), before > 262144 ? before - 262144 : 0);
  ASSERT_NE(start, std::string::npos);
  EXPECT_TRUE(all.compare(start, logged.size() - 4, logged, 4) == 0);
  EXPECT_EQ(logged.find("debug 80"), std::string::npos) << "the console's own command logged";
}

// A broken or huge program file chosen in the real window is refused before the card is touched.
using HexCheck = CardAndConsole;

TEST_F(HexCheck, BrokenOrHugeFilesGiveOneBoxEachAndTheCardSeesNoResetAndNoProgram) {
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "linecard"}, "LINE CARD APP"));
  const auto file = ws.Path("radio.hex"), huge = ws.Path("huge.hex");
  std::ofstream(file, std::ios::binary) << ":10010000214601360121470136007EFE09D2190140\r\n"
                                           ":100110002146017E17C20001FF5F16002148011929\r\n"
                                           ":00000001FF\r\n";
  std::ofstream(huge).close();
  std::filesystem::resize_file(huge, 17 << 20);  // too large to be a program: refused by length
  const std::vector<std::pair<std::filesystem::path, std::string>> rows = {
      {file, "radio.hex, line 2: the checksum is 29, the record's bytes give 28."},
      {huge, "huge.hex is not a program file: it is larger than 16 MiB, more than any program."}};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    console->Do("answer-file " + rows[i].first.string());
    console->Do("click DownloadButton");
    EXPECT_EQ(console->WaitForBoxes(i + 1, 10s).back(), rows[i].second);
    EXPECT_EQ(console->Get("DownloadButton"), "Program Download");
    EXPECT_EQ(console->Get("DownloadStatus", "visible"), "0");
    EXPECT_TRUE(console->CloseBox());
  }
  // The poll cycle goes on, and the card never saw the download begin.
  const std::size_t before = card->Trace().size();
  EXPECT_TRUE(WaitUntil([&] { return card->Trace().size() >= before + 3; }, 10s));
  EXPECT_EQ(Took("reset"), 0);
  for (const auto& line : card->Trace()) EXPECT_EQ(line.find("[program"), line.npos) << line;
  EXPECT_EQ(console->Get("ProgramText"), "LINE CARD APP");
  EXPECT_EQ(console->Boxes().size(), 2u);
}

// Ports that come and go: a card started after the console is listed once its line exists, and
// one pulled and put back in one breath, before the console noticed, is reopened by itself while
// the box is still open (pulled during a download: the fault matrix).
using Hotplug = CardAndConsole;

TEST_F(Hotplug, ACardStartedLaterIsListedAndOneRepluggedWhilePolledIsReopenedByItself) {
  console = std::make_unique<ConsoleApp>("COM1=" + ws.Path("card").string());
  EXPECT_EQ(console->Get("CommPortSelect", "count"), "1");
  card = std::make_unique<Card>(ws, std::vector<std::string>{"--start", "cpe", "--quiet"});
  ASSERT_TRUE(console->WaitFor("CommPortSelect", "count", "2", 2s));
  ASSERT_NO_FATAL_FAILURE(ChooseCom1("CPE APP"));
  card->Operator("replug");
  const auto shown = console->WaitForBoxes(1, 10s);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("reconnect"), std::string::npos) << shown[0];
  // The loss closed the port and showed DISCONNECT: COM1 chosen and CPE APP shown again can
  // only come from the reconnect.
  EXPECT_TRUE(console->WaitFor("CommPortSelect", "text", "COM1", 10s));
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", "CPE APP", 10s));
  EXPECT_TRUE(console->CloseBox());
}

}  // namespace
}  // namespace velmora::e2e
