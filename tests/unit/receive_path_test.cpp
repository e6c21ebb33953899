// Received text: the terminal pane, cutting it into lines, and a port that goes away.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

using Trace = std::vector<std::string>;

class ReceivePathTest : public ConnectedConsoleTest {
 protected:
  // What the handled lines did, in order: the program indicator and the three version fields
  // (none of which the console itself watches).
  void WatchFields() {
    const auto watch = [this](TextBox& box, const std::string& name) {
      box.onChange = [this, &box, name] { trace.push_back(name + ":" + box.Text()); };
    };
    watch(ui.ProgramText, "Program");
    watch(ui.BootLoaderText, "Boot");
    watch(ui.ApplicationText, "Application");
    watch(ui.FirmwareText, "Firmware");
  }
  void FeedInPieces(const std::string& text, std::size_t size) {
    for (std::size_t at = 0; at < text.size(); at += size) fake.port.Feed(text.substr(at, size));
  }
  void Tick(int n = 1) {
    for (int i = 0; i < n; ++i) fake.clock.Advance(100);
  }
  Trace trace;
};

// Text of n characters that says where each character came from.
std::string Numbered(std::size_t n, char base = 'a') {
  std::string text(n, ' ');
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>(base + i % 26);
  return text;
}

const std::string kTranscript =
    "\r\n"
    "Maximum CPU%\r\n"
    "    Version:  Boot 1.2\r\n"
    "    Version:  FPGA 3\r\n"
    "cpe_reset #\r\n"
    "    Version:  FPGA A\rB\nC\r\n"
    "\r\n\r\n"
    "    Version:  Line 4.5\r\n"
    "    Version:  partial";

class BatchingTest : public ReceivePathTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(BatchingTest, EveryBatchingOfTheSameBytesHandlesTheSameLinesInOrder) {
  WatchFields();
  FeedInPieces(kTranscript, GetParam() == 0 ? kTranscript.size() : GetParam());
  EXPECT_EQ(trace,
            (Trace{"Program:BOOT LOADER", "Boot:Boot 1.2", "Firmware:FPGA 3",
                   "Program:LINE CARD APP", "Firmware:FPGA A\rB\nC", "Application:Line 4.5"}));
  EXPECT_EQ(s.ProgramType, 2);
  EXPECT_EQ(s.RxBuffer, "    Version:  partial");
  EXPECT_EQ(ui.TerminalText.Text(), kTranscript);
}

// 0: everything in one batch.
INSTANTIATE_TEST_SUITE_P(PieceSizes, BatchingTest, ::testing::Values(0, 1, 2, 3, 7));

TEST_F(ReceivePathTest, LineIsHandledOnlyOnceItsCrLfHasArrived) {
  fake.port.Feed("Maximum CPU%\r\n");
  WatchFields();
  fake.port.Feed("    Version:  Bo");
  fake.port.Feed("ot 2\r");
  EXPECT_TRUE(trace.empty());
  EXPECT_EQ(s.RxBuffer, "    Version:  Boot 2\r");
  fake.port.Feed("\n");
  EXPECT_EQ(trace, Trace{"Boot:Boot 2"});
  EXPECT_EQ(s.RxBuffer, "");
}

TEST_F(ReceivePathTest, EveryCompleteLineOfABatchIsHandledInThatSameEvent) {
  fake.port.Feed("\r\n");
  EXPECT_EQ(s.RxBuffer, "");
  EXPECT_EQ(s.ProgramType, 0);

  // The empty line in front is dropped and the line behind it handled at once.
  fake.port.Feed("\r\nMaximum CPU%\r\n");
  EXPECT_EQ(s.ProgramType, 1);
  EXPECT_EQ(s.RxBuffer, "");

  // The second line is read in the program the first one revealed.
  fake.port.Feed("Boot Loader Initialized\r\nStops Application\r\n    Version:  CPE 7\r\n");
  EXPECT_EQ(s.ProgramType, 3);
  EXPECT_EQ(ui.ApplicationText.Text(), "CPE 7");
  EXPECT_EQ(s.RxBuffer, "");
}

TEST_F(ReceivePathTest, PaneAlreadyShowsABatchWhenItsFirstLineIsClassified) {
  fake.port.Feed("cpu\r\n");
  std::string paneWhenDetected;
  ui.ProgramText.onChange = [&] { paneWhenDetected = ui.TerminalText.Text(); };
  fake.port.Feed("Maximum CPU% 12\r\nmore");
  EXPECT_EQ(paneWhenDetected, "cpu\r\nMaximum CPU% 12\r\nmore");
}

TEST_F(ReceivePathTest, PaneKeepsTheNewestTenThousandCharactersWhateverTheBatchSize) {
  std::string all = Numbered(25000);
  fake.port.Feed(all);
  EXPECT_EQ(ui.TerminalText.Text(), all.substr(all.size() - 10000));

  for (const std::string& batch : {std::string("x"), std::string("yz\r\n"), Numbered(10001, 'A'),
                                   std::string("0123456789"), Numbered(10000, 'K')}) {
    fake.port.Feed(batch);
    all += batch;
    ASSERT_EQ(ui.TerminalText.Text().size(), 10000u);
    EXPECT_EQ(ui.TerminalText.Text(), all.substr(all.size() - 10000));
  }
}

TEST_F(ReceivePathTest, PaneUpToTenThousandCharactersLosesNothing) {
  const std::string first = Numbered(9999);
  fake.port.Feed(first);
  fake.port.Feed("!");
  EXPECT_EQ(ui.TerminalText.Text(), first + "!");
  fake.port.Feed("?");
  EXPECT_EQ(ui.TerminalText.Text(), first.substr(1) + "!?");
}

TEST_F(ReceivePathTest, UnterminatedTailKeepsOnlyItsLastFourThousandNinetySixCharacters) {
  fake.port.Feed("Maximum CPU%\r\n");
  const std::string exact = Numbered(4096);
  fake.port.Feed(exact);
  EXPECT_EQ(s.RxBuffer, exact);

  const std::string noise = Numbered(6000, 'A');
  fake.port.Feed(noise);
  EXPECT_EQ(s.RxBuffer, noise.substr(6000 - 4096));

  // The line it ends up in holds only that kept tail.
  fake.port.Feed("    Version:  Boot 7\r\nMaximum");
  EXPECT_EQ(ui.BootLoaderText.Text(), noise.substr(6000 - 4096 + 14) + "    Version:  Boot 7");
  EXPECT_EQ(s.RxBuffer, "Maximum");
}

TEST_F(ReceivePathTest, LostPortWhilePollingReturnsToDisconnectWithOneWarning) {
  fake.port.Feed("Line Card Application Initialized\r\n");
  Tick(20);
  ASSERT_FALSE(fake.port.writes.empty());
  fake.port.Feed("Line Card Appl");
  fake.port.writes.clear();

  fake.port.Lose("Device disconnected");
  // Nothing is handled inside the port's own call.
  EXPECT_TRUE(fake.messages.shown.empty());
  Tick(20);
  EXPECT_TRUE(fake.port.writes.empty());

  c.RunDeferred();
  EXPECT_EQ(fake.messages.shown, std::vector<std::string>{"Device disconnected"});
  EXPECT_EQ(ui.CommPortSelect.ListIndex(), 0);
  EXPECT_EQ(s.PortListIndex, 0);
  EXPECT_EQ(s.ProgramType, 0);
  EXPECT_EQ(ui.ProgramText.Text(), "UNKNOWN");
  EXPECT_EQ(s.RxBuffer, "");
  EXPECT_FALSE(ui.OpStateText.Visible());
  EXPECT_TRUE(fake.transmitTimer.Enabled());

  c.RunDeferred();
  Tick(20);
  EXPECT_EQ(fake.messages.shown.size(), 1u);
  EXPECT_TRUE(fake.port.writes.empty());

  // The same port again: the stale half line is gone, and "cpu" resumes.
  ui.CommPortSelect.UserChoose(1);
  ASSERT_TRUE(fake.port.IsOpen());
  fake.port.Feed("ication Initialized\r\n");
  EXPECT_EQ(s.ProgramType, 0);
  Tick(10);
  EXPECT_EQ(fake.port.writes, std::vector<std::string>{"cpu\r\n"});
}

TEST_F(ReceivePathTest, PortLostInTheMiddleOfATickLeavesTheConsoleRunning) {
  fake.port.Feed("CPE Application Initialized\r\n");
  Tick(28);  // up to the tick before step 3 of the first round
  fake.port.writes.clear();
  fake.port.onOutput = [&](const std::string&) { fake.port.Lose("Device disconnected"); };
  Tick();
  fake.port.onOutput = nullptr;
  EXPECT_EQ(fake.port.writes, std::vector<std::string>{"ree 0\r\n"});

  c.RunDeferred();
  EXPECT_EQ(fake.messages.shown, std::vector<std::string>{"Device disconnected"});
  EXPECT_EQ(s.ProgramType, 0);
  EXPECT_TRUE(fake.transmitTimer.Enabled());

  ui.CommPortSelect.UserChoose(1);
  fake.port.writes.clear();
  Tick(10);
  EXPECT_EQ(fake.port.writes, std::vector<std::string>{"cpu\r\n"});
}

}  // namespace
}  // namespace velmora::testing
