// The window around the card: start-up and shut-down, the four program views, the port list,
// the receive path and logging.
#include <gtest/gtest.h>

#include "app/messages.h"
#include "app/program_view.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

using A = FakeSerialPort::Availability;
const std::string kLine = "Line Card Application Initialized\n",
                  kCpe = "CPE Application Initialized\n";

TEST_F(ConsoleTest, StartUpListsThePortsAndLeavesAnIdleConsole) {
  fake.port.SetPort(1, A::Free, "/dev/ttyUSB0");
  fake.port.SetPort(2, A::Busy);
  fake.port.SetPort(3, A::Free);
  fake.port.SetPort(5, A::Missing);
  Form_Load(c);
  std::string items;
  for (const auto& item : ui.CommPortSelect.Items())
    items += item.text + "=" + std::to_string(item.data) + ":" + item.toolTip + " ";
  EXPECT_EQ(items, "DISCONNECT=0: COM1=1:/dev/ttyUSB0 COM2=2:/dev/fake2 COM3=3:/dev/fake3 ");
  EXPECT_EQ(Look("CommPortSelect Program DownloadStatus.Visible DownloadProgress.Visible "
                 "SfdButton.Enabled GenericButton.Enabled V35Button.Enabled OpStateText.Colour "
                 "RssiText.Colour SfdLossText.Colour TemperatureText.Colour LoggingButton"),
            "-1|UNKNOWN|0|0|0|0|0|red|red|red|red|Activate Logging");
  EXPECT_EQ(std::to_string(fake.port.opens) + std::to_string(fake.port.closes) +
                std::to_string(fake.port.IsOpen()) + std::to_string(fake.transmitTimer.Enabled()) +
                std::to_string(fake.transmitTimer.Interval()) +
                std::to_string(fake.downloadTimer.Enabled()) + std::to_string(s.LoggingActive) +
                std::to_string(s.PortListIndex),
            "220110000-1");
  // Closing the window: once, sending nothing, closing the files it holds.
  int closed = 0;
  c.closeWindow = [&closed] { ++closed; };
  fake.files.OpenForAppend(fake.files.FreeFile(), "/tmp/log.txt");
  ui.CommPortSelect.UserChoose(1);
  fake.downloadTimer.SetEnabled(true);
  ui.ExitButton.UserClick();
  UnloadMainWindow(c);
  EXPECT_EQ(std::to_string(fake.files.OpenCount()) + std::to_string(fake.port.IsOpen()) +
                std::to_string(fake.port.closes) + std::to_string(fake.transmitTimer.Enabled()) +
                std::to_string(fake.downloadTimer.Enabled()) +
                std::to_string(fake.port.writes.size()) + std::to_string(closed),
            "0030001");
}

TEST_F(ConnectedConsoleTest, EachProgramHasItsOwnView) {
  EXPECT_STREQ(ProgramTypeText(4), "");  // no program of that number, and no text read for it
  EXPECT_STREQ(ProgramTypeText(-1), "");
  const std::string settings =
      "SfdText.Visible V35Select.Visible GenericSelect.Visible BattVoltText.Visible "
      "TemperatureText.Visible OpStateText.Visible RssiText.Visible Line2Ring.Visible "
      "CpeSelect.Visible DownloadButton.Visible FirmwareText.Visible SfdButton.Visible";
  // clang-format off
  CheckRows({
      {"", "Program ProgramText.Colour " + settings, "UNKNOWN|red|0|0|0|0|0|0|0|0|0|0|0|0"},
      {"Maximum CPU%", "Program ProgramText.Colour " + settings,
       "BOOT LOADER|yellow|0|0|0|0|0|0|0|0|0|1|1|0"},
      {kLine, "Program ProgramText.Colour " + settings,
       "LINE CARD APP|green|1|1|1|1|1|1|1|1|1|1|1|1"},
      {kCpe, "Program " + settings, "CPE APP|1|1|1|1|1|1|1|1|0|1|1|1"},
      {kLine,
       "GenericLabel GenericButton GenericSelect V35Select SfdButton.Enabled "
       "GenericButton.Enabled V35Button.Enabled",
       "Telephony:|Update Telephony|-1|-1|0|0|0"},
      {kLine + "0004: 06\n0005: 01\nBoot Loader Initialized\n" + kCpe,
       "GenericLabel GenericButton GenericSelect V35Select", "Range:|Update Range|-1|-1"},
      {kLine +
           "@choose GenericSelect 3\n@choose V35Select 1\n@edit SfdText 12\nBoot Loader "
           "Initialized\n" +
           kLine,
       "GenericSelect V35Select SfdText GenericButton.Enabled V35Button.Enabled SfdButton.Enabled",
       "-1|-1||0|0|0"},
      // The boot loader keeps what was read; only the applications empty the SFD field.
      {kCpe + "    Version:  Boot Loader 2.04\ntemperature: 0019\n@edit SfdText 12\n"
              "@edit CommandLineText versions\nBoot Loader Initialized",
       "BootLoaderText TemperatureText OpStateText SfdText SfdButton.Enabled CommandLineText "
       "CommandLineButton.Enabled",
       "Boot Loader 2.04| 25|Acquisition|12|1|versions|1"},
      // Unknown again: everything the card told is forgotten.
      {kLine + "    Version:  Boot Loader 2.04\nFF12: 2D\ntemperature: 0019\nop_status: 02020202\n"
               "FF28: 1A 1A 1A 1A\nhook_state: 0000\nring_state: 0101010101010101\n@cpe 2\n"
               "@edit CommandLineText versions\n@choose CommPortSelect 0",
       "BootLoaderText FrequencyText BattVoltText BattVoltText.Colour TemperatureText OpStateText "
       "RssiText SfdLossText Line1Hook Line1Ring CpeSelect CommandLineText "
       "CommandLineButton.Enabled",
       "???|??|??|red||Acquisition|0||ON HOOK|RING OFF|0||0"},
      // The line card's view starts every CPE's record afresh.
      {kLine + "@cpe 2\nop_status: 00000200\nFF28: 00 00 1A\nBoot Loader Initialized\n" + kLine,
       "Cpe2 CpeSelect OpStateText",
       "Acquisition|0||ON HOOK|RING OFF|ON HOOK|RING OFF|2|Acquisition"}
  });
  // clang-format on
}

// A port held elsewhere says so; one refused to this user keeps the system's advice behind the
// reason.
TEST(Messages, PortBoxesSayWhyThePortCannotBeUsed) {
  EXPECT_EQ(PortOpenFailureText(1, "/dev/pts/3", {8005, "Permission error while locking"}),
            "COM1 (/dev/pts/3) is in use by another program.");
  EXPECT_EQ(PortOpenFailureText(3, "/dev/ttyS2",
                                {8010, "/dev/ttyS2: Permission denied\n\nJoin 'dialout'."}),
            "COM3 (/dev/ttyS2) cannot be opened: Permission denied.\n\nJoin 'dialout'.");
}

TEST_F(ConnectedConsoleTest, ReceivedTextIsShownCutIntoLinesAndHandledInOrder) {
  const std::string transcript =
      "\r\nMaximum CPU%\r\n    Version:  Boot 1.2\r\ncpe_reset #\r\n    Version:  FPGA A\rB\nC\r\n"
      "\r\n\r\n    Version:  Line 4.5\r\n    Version:  partial";
  for (std::size_t piece : {transcript.size(), std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
    ui.CommPortSelect.UserChoose(0);
    ui.CommPortSelect.UserChoose(1);
    ui.TerminalText.SetText("");
    for (std::size_t at = 0; at < transcript.size(); at += piece)
      fake.port.Feed(transcript.substr(at, piece));
    EXPECT_EQ(Look("Program BootLoaderText FirmwareText ApplicationText"),
              "LINE CARD APP|Boot 1.2|FPGA A\rB\nC|Line 4.5")
        << piece;
    EXPECT_EQ(s.RxBuffer, "    Version:  partial") << piece;
    EXPECT_EQ(ui.TerminalText.Text(), transcript) << piece;
  }
  // An unterminated line keeps its last 4096 characters (the pane its newest 10000: fuzz_console).
  Script("@raw " + std::string(4093, 'x') + "\n    Version:  Boot 7\n@raw Maximum");
  EXPECT_EQ(ui.BootLoaderText.Text(), std::string(4082, 'x') + "    Version:  Boot 7");
  EXPECT_EQ(s.RxBuffer, "Maximum");
}

TEST_F(ConnectedConsoleTest, LostPortGivesOneWarningLaterAndReturnsToDisconnect) {
  Script(kLine + "@tick 28\n@raw Line Card Appl");
  fake.port.writes.clear();
  // The adapter goes in the middle of a tick's writes.
  fake.port.onOutput = [this](const std::string&) { fake.port.Lose("Device disconnected"); };
  Script("@tick 1");
  fake.port.onOutput = nullptr;
  EXPECT_EQ(fake.port.writes, std::vector<std::string>{"ree 0\r\n"});
  EXPECT_TRUE(fake.messages.shown.empty());  // nothing inside the port's own call
  Script("@tick 20\n@deferred\n@deferred");
  EXPECT_EQ(fake.messages.shown, std::vector<std::string>{"Device disconnected"});
  EXPECT_EQ(Look("CommPortSelect Program OpStateText.Visible") + std::to_string(s.PortListIndex) +
                std::to_string(fake.transmitTimer.Enabled()),
            "0|UNKNOWN|001");
  // A port chosen again before the warning came stays open.
  Script(
      "@choose CommPortSelect 1\n@lose\n@choose CommPortSelect 0\n@choose CommPortSelect "
      "1\n@deferred");
  EXPECT_EQ(Look("CommPortSelect") + std::to_string(fake.port.IsOpen()), "11");
  // The same port again: the stale half line is gone, and "cpu" resumes.
  Script(
      "@choose CommPortSelect 0\n@tick 20\n@choose CommPortSelect 1\n@raw Line Card "
      "Appl\n@lose\n@deferred");
  EXPECT_EQ(Ticks(20), std::vector<std::string>{});
  Script("@choose CommPortSelect 1\n@raw ication Initialized\r\n");
  EXPECT_EQ(Look("Program"), "UNKNOWN");
  EXPECT_EQ(Ticks(10), std::vector<std::string>{"cpu\r\n"});
}

class LoggingTest : public ConnectedConsoleTest {
 protected:
  void StartLogging(const std::string& path = "/l/card.txt") {
    fake.chooser.answers.push_back(ChosenFile{path, "card.txt"});
    ui.LoggingButton.UserClick();
  }
  std::string& Log() { return fake.files.disk["/l/card.txt"].bytes; }
};

TEST_F(LoggingTest, LogHoldsExactlyTheBytesReceivedWhileOnBehindWhatTheFileHeld) {
  Log() = "old ";
  StartLogging();
  // A new file may be named; one that cannot be written is refused in the chooser.
  EXPECT_FALSE(fake.chooser.requests.at(0).mustExist);
  EXPECT_TRUE(fake.chooser.requests.at(0).refuseReadOnly);
  const std::string raw("a\r\n\0b\xff\r", 7);
  Script(kCpe);
  fake.port.Feed(raw);
  Script("@edit CommandLineText versions\n@click CommandLineButton\n@tick 30");
  EXPECT_EQ(Look("LoggingButton"), "Stop Logging");
  ui.LoggingButton.UserClick();
  Script("unlogged\n@click LoggingButton");  // cancelled: stays off
  StartLogging();
  Receive("second");
  EXPECT_EQ(Log(), "old " + kCpe.substr(0, kCpe.size() - 1) + "\r\n" + raw + "second\r\n");
  std::string debug;
  for (const auto& w : fake.port.writes)
    if (w.rfind("debug", 0) == 0) debug += w.substr(0, w.size() - 2) + ",";
  EXPECT_EQ(debug, "debug 80,debug 0,debug 80,");
}

TEST_F(LoggingTest, FileThatCannotBeOpenedIsReportedAndLoggingStaysOff) {
  fake.files.disk["/l/locked.txt"] = {"kept", false, true};
  fake.files.disk["/l/readonly.txt"] = {"kept", true, false};
  const struct {
    std::string path, box;
  } rows[] = {{"/l/locked.txt",
               "The log file /l/locked.txt cannot be opened for writing: The process "
               "cannot access the file because it is being used."},
              {"/l/readonly.txt",
               "The log file /l/readonly.txt cannot be opened for writing: Permission denied."}};
  for (const auto& r : rows) {
    fake.messages.shown.clear();
    StartLogging(r.path);
    Receive("more");
    EXPECT_EQ(fake.messages.shown, std::vector<std::string>{r.box});
    EXPECT_EQ(fake.files.disk[r.path].bytes + Look("LoggingButton") +
                  std::to_string(fake.files.OpenCount()),
              "keptActivate Logging0");
  }
  EXPECT_TRUE(fake.port.writes.empty());
}

}  // namespace
}  // namespace velmora::testing
