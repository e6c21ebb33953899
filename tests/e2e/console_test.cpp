// The real console against a healthy simulated card: what an engineer sees and does.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

using Console = CardAndConsole;

// Options are read before any window: no display is needed to learn what the program takes.
TEST(CommandLine, HelpAndVersionNeedNoDisplayAndABadOptionIsOneLineAndStatusTwo) {
  Workspace ws;
  const struct {
    const char* options;
    int status;
    const char* out;  // what standard output holds
    const char* err;
  } rows[] = {
      {"--version", 0, "velmora 1.", ""},
      {"--help", 0, "  --port <COMn=ADDRESS>", ""},
      {"--bogus", 2, "", "velmora: Unknown option 'bogus'.\n"},
      {"--port COM9=/dev/ttyUSB0", 2, "",
       "velmora: --port COM9=/dev/ttyUSB0: the port must be COM1 to COM8\n"},
  };
  for (const auto& row : rows) {
    const std::string out = ws.Path("out"), err = ws.Path("err");
    const int status = std::system(
        ("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 " +
         std::string(VELMORA_CONSOLE_BIN) + " " + row.options + " >" + out + " 2>" + err)
            .c_str());
    EXPECT_EQ(WEXITSTATUS(status), row.status) << row.options;
    EXPECT_NE(Slurp(out).find(row.out), std::string::npos) << row.options << ": " << Slurp(out);
    EXPECT_EQ(Slurp(err), row.err) << row.options;
  }
}

TEST_F(Console, StartsOnTheSoundEntriesOfItsSettingsFileNamesTheFaultOnceAndLeavesTheFile) {
  card = std::make_unique<Card>(
      ws, std::vector<std::string>{"--start", "cpe", "--quiet", "--trace", ws.Path("trace.txt")});
  const std::string file = ws.Path("velmora.conf");
  const std::string text = "[Ports]\nCOM9=/dev/ttyUSB0\nCOM2=" + card->Link() + "\n";
  std::ofstream(file) << text;
  console = std::make_unique<drive::Console>(VELMORA_CONSOLE_BIN, "", 2,
                                             std::vector<std::string>{"--ports-file", file});
  EXPECT_EQ(console->WaitForBoxes(1, 10s),
            std::vector<std::string>{"These port entries are left out; the console uses the "
                                     "others.\n\n" +
                                     file +
                                     ", line 2: COM9=/dev/ttyUSB0: the port must be COM1 to COM8"});
  EXPECT_TRUE(console->CloseBox());
  ASSERT_NO_FATAL_FAILURE(ChooseCom1("CPE APP"));
  EXPECT_EQ(console->Get("CommPortSelect"), "COM2");
  EXPECT_EQ(console->Boxes().size(), 1u);
  EXPECT_EQ(Slurp(file), text);
}

// How the card is found, polled and followed through its restarts is the ser2net and fault
// matrix tests' (and the scheduler's unit tests').
TEST_F(Console, ShowsTheCardsValuesInTheirColoursAndAnEditedSettingReachesTheEeprom) {
  // A missing device is not listed at all.
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "linecard", "--steady", "--temperature", "45"},
                                  "LINE CARD APP", ",COM2=/nothing/here"));
  EXPECT_EQ(console->Get("CommPortSelect", "count"), "2");
  EXPECT_EQ(console->Get("ProgramText", "color"), "#00ff00");
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
  console->Do("tab 0");
  for (const auto& [field, text] :
       std::vector<std::array<const char*, 2>>{{"V35Select", "CHANNEL 1"},
                                               {"GenericSelect", "T1 & 12 KHz Tone"},
                                               {"SfdText", "31"},
                                               {"TimeSlotText", " 2"},
                                               {"CdmaText", " 3"},
                                               {"FrequencyText", " 1"}})
    EXPECT_TRUE(console->WaitFor(field, "text", text, 10s)) << field << ": " << console->Get(field);
  // The read-backs leaving the buttons disabled and a choice enabling them are the unit tests';
  // the click below reaches the card only through a button the edit enabled.
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
  console.reset();
  // Terminated, the simulated card ends cleanly and takes its link away.
  EXPECT_EQ(card->Stop(), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(card->Link()));
}

TEST_F(Console, TheTerminalSendsTypedCommandsAndLogsExactlyWhatTheCardSent) {
  const std::string sent = ws.Path("sent.bin"), log = ws.Path("log.txt");
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "cpe", "--record-sent", sent}, "CPE APP"));
  console->Do("tab 2");
  console->Do("type CommandLineText ree 5");
  console->Do("key CommandLineText Return");
  EXPECT_TRUE(CardTook({"ree 5"}, 3s));
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

}  // namespace
}  // namespace velmora::e2e
