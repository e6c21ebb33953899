// Logging: the log file holds exactly the bytes the card sent while logging was on, appended
// to what the file held; the card's debug output is switched with it.
#include <gtest/gtest.h>

#include <functional>

#include "app/lifecycle.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

const std::string kLog = "/l/card.txt";

class LoggingTest : public ConnectedConsoleTest {
 protected:
  void StartLogging(const std::string& path = kLog) {
    fake.chooser.answers.push_back(ChosenFile{path, "card.txt"});
    ui.LoggingButton.UserClick();
  }
  const std::string& Log() { return fake.files.disk[kLog].bytes; }

  void ExpectClosingLeavesACompleteLog(const std::function<void()>& close) {
    StartLogging();
    fake.port.Feed("last words\r\n");
    fake.port.writes.clear();
    close();
    EXPECT_TRUE(c.unloaded);
    EXPECT_TRUE(fake.port.writes.empty());
    EXPECT_FALSE(fake.port.IsOpen());
    EXPECT_EQ(fake.files.OpenCount(), 0);
    EXPECT_EQ(Log(), "last words\r\n");
  }
};

TEST_F(LoggingTest, AppendsReceivedBytesBehindWhatTheFileHeld) {
  const std::string old(100, 'o');
  fake.files.disk[kLog].bytes = old;
  StartLogging();
  ASSERT_EQ(fake.chooser.requests.size(), 1u);
  const OpenFileRequest& request = fake.chooser.requests[0];
  EXPECT_EQ(request.title, "Select Logging File");
  ASSERT_EQ(request.filters.size(), 2u);
  EXPECT_EQ(request.filters[0].description, "Text File (*.txt)");
  EXPECT_EQ(request.filters[0].pattern, "*.txt");
  EXPECT_EQ(request.filters[1].description, "All Files (*.*)");
  EXPECT_EQ(request.filters[1].pattern, "*.*");
  EXPECT_FALSE(request.mustExist);
  EXPECT_TRUE(request.refuseReadOnly);

  EXPECT_EQ(fake.port.writes, std::vector<std::string>{"debug 80\r\n"});
  EXPECT_EQ(ui.LoggingButton.Caption(), "Stop Logging");
  EXPECT_TRUE(s.LoggingActive);
  fake.port.Feed("abc");
  fake.port.Feed("def\r\n");
  EXPECT_EQ(Log(), old + "abcdef\r\n");
}

TEST_F(LoggingTest, EveryByteIsLoggedUnchangedAndNothingTheConsoleSends) {
  fake.port.Feed("CPE Application Initialized\r\n");
  ASSERT_EQ(s.ProgramType, ProgramType::CpeApp);
  StartLogging();  // a new file
  ASSERT_EQ(Log(), "");
  const std::string raw("a\r\n\0b\xff\r", 7);
  fake.port.Feed(raw);
  ui.CommandLineText.SetText("versions");
  ui.CommandLineButton.UserClick();
  fake.clock.Advance(3000);  // the command line and poll commands go out
  ASSERT_NE(fake.port.Written().find("versions\r\n"), std::string::npos);
  fake.port.Feed("\nop_status: 02\r\n");
  EXPECT_EQ(Log(), raw + "\nop_status: 02\r\n");
  EXPECT_EQ(ui.TerminalText.Text().substr(ui.TerminalText.Text().size() - 23),
            raw + "\nop_status: 02\r\n");
}

TEST_F(LoggingTest, StartStopStartOnOneFileHoldsBothPeriodsBackToBack) {
  StartLogging();
  fake.port.Feed("first\r\n");
  ui.LoggingButton.UserClick();
  EXPECT_FALSE(s.LoggingActive);
  EXPECT_EQ(s.LogFileNumber, 0);
  EXPECT_EQ(fake.files.OpenCount(), 0);
  EXPECT_EQ(ui.LoggingButton.Caption(), "Activate Logging");
  fake.port.Feed("unlogged\r\n");
  StartLogging();
  fake.port.Feed("second\r\n");
  EXPECT_EQ(Log(), "first\r\nsecond\r\n");
  EXPECT_EQ(fake.port.writes,
            (std::vector<std::string>{"debug 80\r\n", "debug 0\r\n", "debug 80\r\n"}));
}

TEST_F(LoggingTest, CancelledChooserChangesNothing) {
  ui.LoggingButton.UserClick();
  EXPECT_EQ(fake.chooser.requests.size(), 1u);
  EXPECT_TRUE(fake.port.writes.empty());
  EXPECT_EQ(ui.LoggingButton.Caption(), "Activate Logging");
  EXPECT_FALSE(s.LoggingActive);
  EXPECT_EQ(fake.files.OpenCount(), 0);
}

TEST_F(LoggingTest, FileThatCannotBeOpenedIsReportedAndLoggingStaysOff) {
  fake.files.disk["/l/locked.txt"] = {"kept", false, true, false};
  fake.files.disk["/l/readonly.txt"] = {"kept", true, false, false};
  const struct {
    std::string path, box;
  } cases[] = {
      {"/l/locked.txt",
       "The log file /l/locked.txt cannot be opened for writing: The process "
       "cannot access the file because it is being used."},
      {"/l/readonly.txt",
       "The log file /l/readonly.txt cannot be opened for writing: Permission denied."},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.path);
    fake.messages.shown.clear();
    StartLogging(k.path);
    EXPECT_EQ(fake.messages.shown, std::vector<std::string>{k.box});
    EXPECT_TRUE(fake.port.writes.empty());
    EXPECT_FALSE(s.LoggingActive);
    EXPECT_EQ(s.LogFileNumber, 0);
    EXPECT_EQ(fake.files.OpenCount(), 0);
    EXPECT_EQ(ui.LoggingButton.Caption(), "Activate Logging");
    fake.port.Feed("more\r\n");
    EXPECT_EQ(fake.files.disk[k.path].bytes, "kept");
  }
}

TEST_F(LoggingTest, FailedLogWriteStopsLoggingAndIsReportedOnceLater) {
  StartLogging();
  fake.port.Feed("one\r\n");
  fake.files.disk[kLog].full = true;
  fake.port.Feed("two\r\n");
  EXPECT_FALSE(s.LoggingActive);
  EXPECT_EQ(s.LogFileNumber, 0);
  EXPECT_EQ(fake.files.OpenCount(), 0);
  EXPECT_EQ(ui.LoggingButton.Caption(), "Activate Logging");
  EXPECT_EQ(fake.port.writes, (std::vector<std::string>{"debug 80\r\n", "debug 0\r\n"}));
  EXPECT_TRUE(fake.messages.shown.empty());  // not from inside the receive event
  fake.port.Feed("three\r\n");
  c.RunDeferred();
  c.RunDeferred();
  ASSERT_EQ(fake.messages.shown.size(), 1u);
  EXPECT_NE(fake.messages.shown[0].find("No space left on device"), std::string::npos);
  EXPECT_EQ(Log(), "one\r\n");
}

TEST_F(LoggingTest, UnloadLeavesACompleteClosedLogWithoutDebugOff) {
  ExpectClosingLeavesACompleteLog([this] { UnloadMainWindow(c); });
}

TEST_F(LoggingTest, ExitButtonLeavesACompleteClosedLogWithoutDebugOff) {
  ExpectClosingLeavesACompleteLog([this] { ui.ExitButton.UserClick(); });
}

TEST_F(LoggingTest, BytesReceivedDuringADownloadAreLoggedToo) {
  fake.port.Feed("Line Card Application Initialized\r\n");
  StartLogging();
  fake.files.disk["/p/prog.hex"].bytes = std::string(3000, ':');
  fake.chooser.answers.push_back(ChosenFile{"/p/prog.hex", "prog.hex"});
  ui.DownloadButton.UserClick();
  ASSERT_TRUE(s.Downloading);
  fake.port.Feed("Boot Loa");
  fake.port.Feed("der Ready\r\n");
  fake.port.Feed("Boot Loader Stopped\r\n");
  ASSERT_EQ(s.DownloadStage, 2);
  fake.port.Feed("ok\r\n");
  EXPECT_EQ(Log(), "Boot Loader Ready\r\nBoot Loader Stopped\r\nok\r\n");
  EXPECT_TRUE(s.LoggingActive);
}

TEST_F(LoggingTest, TextReceivedWhileTheHandshakeLetsEventsRunIsLoggedInOrderOfArrival) {
  fake.port.Feed("Line Card Application Initialized\r\n");
  StartLogging();
  fake.files.disk["/p/prog.hex"].bytes = std::string(3000, ':');
  fake.chooser.answers.push_back(ChosenFile{"/p/prog.hex", "prog.hex"});
  ui.DownloadButton.UserClick();
  fake.port.Feed("Boot Loader Ready\r\n");
  // The card goes on talking while the status text is being shown.
  fake.pump.pendingEvents = [this] { fake.port.Feed("flash erased\r\n"); };
  fake.port.Feed("Boot Loader Stopped\r\n");
  ASSERT_EQ(fake.pump.processed, 1);
  const std::string arrived = "Boot Loader Ready\r\nBoot Loader Stopped\r\nflash erased\r\n";
  EXPECT_EQ(ui.TerminalText.Text().substr(ui.TerminalText.Text().size() - arrived.size()), arrived);
  EXPECT_EQ(Log(), arrived);
}

TEST_F(LoggingTest, SwitchingOrLosingTheLogDuringADownloadPutsNothingBetweenTheProgramsBytes) {
  fake.port.Feed("Line Card Application Initialized\r\n");
  StartLogging();
  const std::string program(5000, ':');
  fake.files.disk["/p/prog.hex"].bytes = program;
  fake.chooser.answers.push_back(ChosenFile{"/p/prog.hex", "prog.hex"});
  ui.DownloadButton.UserClick();
  fake.port.Feed("Boot Loader Ready\r\n");
  fake.port.Feed("Boot Loader Stopped\r\n");
  fake.port.writes.clear();
  ui.LoggingButton.UserClick();  // stop
  fake.port.RaiseSend();
  StartLogging();  // start again
  fake.port.RaiseSend();
  fake.files.disk[kLog].full = true;
  fake.port.Feed("echo\r\n");  // the failed write stops logging
  fake.port.RaiseSend();
  EXPECT_FALSE(s.LoggingActive);
  EXPECT_EQ(fake.port.Written(), program.substr(2000));
}

TEST_F(ConsoleTest, LoggingStartsAndStopsWithNoPortOpen) {
  Form_Load(c);
  fake.chooser.answers.push_back(ChosenFile{kLog, "card.txt"});
  ui.LoggingButton.UserClick();
  EXPECT_TRUE(s.LoggingActive);
  EXPECT_EQ(ui.LoggingButton.Caption(), "Stop Logging");
  ui.LoggingButton.UserClick();
  EXPECT_FALSE(s.LoggingActive);
  EXPECT_EQ(fake.files.OpenCount(), 0);
  EXPECT_TRUE(fake.messages.shown.empty());
}

}  // namespace
}  // namespace velmora::testing
