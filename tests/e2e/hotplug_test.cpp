// Ports that come and go, with the real console and the simulated card: a card started after
// the console is listed once it starts, and a card unplugged and replugged is reopened by
// itself, whether it was polled or took a download.
#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

class Hotplug : public CardAndConsole {
 protected:
  // Pulls the card's line: one box that says the console will reconnect, DISCONNECT shown.
  void Unplug() {
    card->Operator("unplug");
    const auto shown = console->WaitForBoxes(1, 10s);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("reconnect"), std::string::npos) << shown[0];
    EXPECT_EQ(console->Get("CommPortSelect", "index"), "0");
    EXPECT_EQ(console->Get("ProgramText"), "UNKNOWN");
  }
  // Plugs it back, the box still open: COM1 is chosen again and the card recognised.
  void ReplugAndExpectReconnect(const std::string& program) {
    card->Operator("replug");
    EXPECT_TRUE(console->WaitFor("ProgramText", "text", program, 10s))
        << console->Get("ProgramText");
    EXPECT_EQ(console->Get("CommPortSelect", "text"), "COM1");
    EXPECT_TRUE(console->CloseBox());
    EXPECT_EQ(console->Boxes().size(), 1u);
  }
};

TEST_F(Hotplug, ACardStartedAfterTheConsoleIsListedOnceItsLineExists) {
  console = std::make_unique<ConsoleApp>("COM1=" + ws.Path("card").string());
  EXPECT_EQ(console->Get("CommPortSelect", "count"), "1");
  card = std::make_unique<Card>(ws, std::vector<std::string>{"--start", "linecard", "--quiet"});
  ASSERT_TRUE(console->WaitFor("CommPortSelect", "count", "2", 2s));
  ASSERT_NO_FATAL_FAILURE(ChooseCom1("LINE CARD APP"));
}

// Pulled and put back in one breath, before the console noticed the loss.
TEST_F(Hotplug, ACardRepluggedWhilePolledIsReopenedAndRecognised) {
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "cpe"}, "CPE APP"));
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

TEST_F(Hotplug, ACardUnpluggedDuringADownloadIsReopenedButTheDownloadIsNotResumed) {
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "linecard", "--baud", "57600"}, "LINE CARD APP"));
  const std::string program = MakeProgram(ws, 40000, "large.hex");  // about 19 s at 57600 baud
  console->Do("answer-file " + program);
  console->Do("click DownloadButton");
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Sending large.hex ...", 10s));
  ASSERT_TRUE(card->WaitForCommands({"[program file begins]"}, 2s));
  ASSERT_NO_FATAL_FAILURE(Unplug());
  EXPECT_EQ(console->Get("DownloadButton"), "Program Download");
  EXPECT_EQ(console->Get("DownloadStatus", "visible"), "0");
  // The card waits in its boot loader; nobody restarts it.
  ASSERT_NO_FATAL_FAILURE(ReplugAndExpectReconnect("BOOT LOADER"));
  EXPECT_EQ(console->Get("DownloadButton"), "Program Download");
  EXPECT_EQ(Took("[program file begins]"), 1);
}

}  // namespace
}  // namespace velmora::e2e
