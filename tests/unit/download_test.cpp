// Program download: the handshake with the boot loader, the paced transfer, flashing, the
// time-outs, aborts and lost ports, and the window put back after every end.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "app/lifecycle.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

const std::vector<std::string> kReset = {"\r\n", "reset\r\n"};

// A program file whose bytes differ from block to block and hold every byte value.
std::string ProgramBytes(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + i / 1000) % 256);
  return bytes;
}

void ExpectValues(const std::vector<float>& actual, const std::vector<float>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], 0.005) << "progress value " << i;
}

class DownloadTest : public ConnectedConsoleTest {
 protected:
  void SetUp() override {
    ConnectedConsoleTest::SetUp();
    Detect();
    ui.DownloadProgress.SetObserver([this](Control&, Prop p) {
      if (p == Prop::Value) progress.push_back(ui.DownloadProgress.Value());
    });
  }

  void Detect() {
    fake.port.Feed("Line Card Application Initialized\r\n");
    ASSERT_EQ(s.ProgramType, ProgramType::LineCardApp);
    fake.port.writes.clear();
  }
  void Choose(const std::string& bytes) {
    fake.files.disk["/p/prog.hex"].bytes = bytes;
    fake.chooser.answers.push_back(ChosenFile{"/p/prog.hex", "prog.hex"});
  }
  void Start(std::size_t length) {
    Choose(ProgramBytes(length));
    ui.DownloadButton.UserClick();
    ASSERT_TRUE(s.Downloading);
  }
  // Rebooting -> Stopping -> Sending, with the burst written.
  void ReachSending(std::size_t length) {
    Start(length);
    fake.port.Feed("Boot Loader Ready\r\n");
    fake.port.Feed("Boot Loader Stopped\r\n");
    ASSERT_EQ(s.DownloadStage, 2);
  }
  std::vector<std::string> WritesFrom(std::size_t mark) const {
    return {fake.port.writes.begin() + static_cast<std::ptrdiff_t>(mark), fake.port.writes.end()};
  }
  std::vector<std::string> WritesOtherThanPolls(std::size_t mark) const {
    std::vector<std::string> w = WritesFrom(mark);
    w.erase(std::remove(w.begin(), w.end(), "cpu\r\n"), w.end());
    return w;
  }

  void ExpectRestored() {
    EXPECT_FALSE(s.Downloading);
    EXPECT_FALSE(ui.DownloadStatus.Visible());
    EXPECT_FALSE(ui.DownloadProgress.Visible());
    EXPECT_TRUE(ui.OpConfig.Visible());
    EXPECT_EQ(ui.SoftwareConfig.Geometry().height, 1452);
    EXPECT_EQ(ui.DownloadButton.Caption(), "Program Download");
    EXPECT_FALSE(ui.DownloadButton.Visible());
    EXPECT_EQ(s.ProgramType, ProgramType::Unknown);
    EXPECT_EQ(ui.ProgramText.Text(), "UNKNOWN");
    EXPECT_TRUE(fake.transmitTimer.Enabled());
    EXPECT_FALSE(fake.downloadTimer.Enabled());
    EXPECT_FALSE(ui.CommPortSelect.Locked());
    EXPECT_EQ(fake.port.SThreshold(), 0);
    EXPECT_EQ(fake.files.OpenCount(), 0);
    EXPECT_EQ(s.DownloadFile, 0);
    EXPECT_EQ(s.ResponseLine, "");
  }

  std::vector<float> progress;
};

TEST_F(DownloadTest, StartRebootsTheCardAndReshapesTheWindow) {
  // The last line classified before the download is no boot loader text.
  fake.port.Feed("Boot Loader Ready Boot Loader Stopped\r\n");
  fake.port.writes.clear();
  Start(3000);
  ASSERT_EQ(fake.chooser.requests.size(), 1u);
  const OpenFileRequest& request = fake.chooser.requests[0];
  EXPECT_EQ(request.title, "Select File to Download");
  ASSERT_EQ(request.filters.size(), 2u);
  EXPECT_EQ(request.filters[0].description, "Program File (*.hex)");
  EXPECT_EQ(request.filters[0].pattern, "*.hex");
  EXPECT_EQ(request.filters[1].description, "All Files (*.*)");
  EXPECT_EQ(request.filters[1].pattern, "*.*");
  EXPECT_EQ(request.filterIndex, 0);
  EXPECT_TRUE(request.mustExist);

  EXPECT_EQ(fake.port.writes, kReset);
  EXPECT_EQ(s.DownloadStage, 0);
  EXPECT_EQ(s.ProgramType, ProgramType::BootLoader);
  EXPECT_EQ(ui.ProgramText.Text(), "BOOT LOADER");
  const Twips status = ui.DownloadStatus.Geometry();
  EXPECT_EQ((std::vector<int>{status.left, status.top, status.width}),
            (std::vector<int>{1680, 1920, 3375}));
  EXPECT_TRUE(ui.DownloadStatus.Visible());
  EXPECT_EQ(ui.DownloadStatus.Text(), "Rebooting Radio Card ...");
  const Twips bar = ui.DownloadProgress.Geometry();
  EXPECT_EQ((std::vector<int>{bar.left, bar.top, bar.width}), (std::vector<int>{1200, 2400, 4335}));
  EXPECT_TRUE(ui.DownloadProgress.Visible());
  EXPECT_EQ(ui.DownloadProgress.Value(), 0);
  EXPECT_FALSE(ui.OpConfig.Visible());
  EXPECT_EQ(ui.SoftwareConfig.Geometry().height, 2575);
  EXPECT_EQ(ui.DownloadButton.Caption(), "Abort Download");
  EXPECT_TRUE(ui.DownloadButton.Visible());
  EXPECT_FALSE(fake.transmitTimer.Enabled());
  EXPECT_TRUE(fake.downloadTimer.Enabled());
  EXPECT_EQ(fake.downloadTimer.Interval(), 9000);
  EXPECT_EQ(fake.port.SThreshold(), 0);
  EXPECT_EQ(fake.files.OpenCount(), 0);

  fake.port.Feed(" ");
  EXPECT_EQ(fake.port.writes, kReset);
  EXPECT_EQ(s.DownloadStage, 0);

  // The port selection is locked: a person's choice of DISCONNECT does nothing.
  ui.CommPortSelect.UserChoose(0);
  EXPECT_TRUE(fake.port.IsOpen());
  EXPECT_TRUE(s.Downloading);
}

TEST_F(DownloadTest, CancelledOrRefusedChoiceChangesNothing) {
  fake.files.disk["/p/locked.hex"] = {ProgramBytes(3000), false, true, false};
  fake.files.disk["/p/empty.hex"] = {};
  const struct {
    std::optional<ChosenFile> answer;
    std::vector<std::string> boxes;
  } cases[] = {
      {std::nullopt, {}},
      {ChosenFile{"/p/empty.hex", "empty.hex"}, {"<any>"}},
      {ChosenFile{"/p/locked.hex", "locked.hex"},
       {"The program file /p/locked.hex cannot be read: The process cannot access the file "
        "because it is being used."}},
      {ChosenFile{"/p/gone.hex", "gone.hex"},
       {"The program file /p/gone.hex cannot be read: No such file or directory."}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.answer ? k.answer->fileName : "cancelled");
    fake.messages.shown.clear();
    fake.chooser.answers.push_back(k.answer);
    ui.DownloadButton.UserClick();
    ASSERT_EQ(fake.messages.shown.size(), k.boxes.size());
    if (!k.boxes.empty() && k.boxes[0] != "<any>") {
      EXPECT_EQ(fake.messages.shown[0], k.boxes[0]);
    }
    EXPECT_FALSE(s.Downloading);
    EXPECT_TRUE(fake.port.writes.empty());
    EXPECT_EQ(s.ProgramType, ProgramType::LineCardApp);
    EXPECT_EQ(ui.ProgramText.Text(), "LINE CARD APP");
    EXPECT_TRUE(fake.transmitTimer.Enabled());
    EXPECT_FALSE(fake.downloadTimer.Enabled());
    EXPECT_FALSE(ui.CommPortSelect.Locked());
    EXPECT_FALSE(ui.DownloadStatus.Visible());
    EXPECT_TRUE(ui.OpConfig.Visible());
    EXPECT_EQ(ui.DownloadButton.Caption(), "Program Download");
    EXPECT_EQ(fake.files.OpenCount(), 0);
  }
}

TEST_F(DownloadTest, CardThatNeverAnswersIsResetThreeTimesAndReportedOnceAt18Seconds) {
  Start(3000);
  fake.clock.Advance(8999);
  EXPECT_EQ(fake.port.writes.size(), 2u);
  fake.clock.Advance(1);
  EXPECT_EQ(fake.port.writes.size(), 4u);
  EXPECT_EQ(WritesFrom(2), kReset);
  fake.clock.Advance(8999);
  EXPECT_TRUE(fake.messages.shown.empty());
  EXPECT_EQ(fake.port.writes.size(), 4u);

  std::size_t writesWhileShown = 0;
  fake.messages.whileShown = [&](const std::string&) {
    if (fake.messages.shown.size() > 1) return;  // a second box: the failure is counted below
    EXPECT_FALSE(fake.downloadTimer.Enabled());
    fake.clock.Advance(30000);  // the box stays open a long time
    writesWhileShown = fake.port.writes.size();
  };
  fake.clock.Advance(1);
  EXPECT_EQ(fake.messages.shown, std::vector<std::string>{"Boot Loader Not Detected"});
  // The third reset follows the closing of the box, once.
  EXPECT_EQ(writesWhileShown, 4u);
  EXPECT_EQ(WritesFrom(4), kReset);
  ExpectRestored();
}

TEST_F(DownloadTest, ReadyTwiceSendsStopTwiceAndRestartsTheTwoSecondCount) {
  Start(3000);
  fake.clock.Advance(1000);
  fake.port.Feed("boot loader ready\r\n");  // other letter case: not the phrase
  EXPECT_EQ(fake.port.writes.size(), 2u);
  fake.port.Feed("Boot Loa");
  EXPECT_EQ(fake.port.writes.size(), 2u);
  fake.port.Feed("der Ready\r\n");
  EXPECT_EQ(WritesFrom(2), std::vector<std::string>{"stop\r\n"});
  EXPECT_EQ(s.DownloadStage, 1);
  EXPECT_EQ(fake.downloadTimer.Interval(), 2000);
  EXPECT_EQ(ui.DownloadStatus.Text(), "Rebooting Radio Card ...");

  fake.clock.Advance(1500);
  fake.port.Feed("\r\nBoot Loader Ready\r\n");
  EXPECT_EQ(WritesFrom(2), (std::vector<std::string>{"stop\r\n", "stop\r\n"}));
  fake.clock.Advance(1999);
  EXPECT_TRUE(fake.messages.shown.empty());

  std::size_t writesWhileShown = 0;
  fake.messages.whileShown = [&](const std::string&) {
    if (fake.messages.shown.size() > 1) return;
    fake.clock.Advance(10000);
    writesWhileShown = fake.port.writes.size();
  };
  fake.clock.Advance(1);
  EXPECT_EQ(fake.messages.shown, std::vector<std::string>{"Boot Loader Unresponsive"});
  EXPECT_EQ(writesWhileShown, 4u);
  EXPECT_EQ(WritesFrom(4), kReset);
  ExpectRestored();
}

TEST_F(DownloadTest, RepeatedResetForgetsAPhraseBegunBeforeIt) {
  Start(3000);
  fake.clock.Advance(8000);
  fake.port.Feed("Boot Loa");
  fake.clock.Advance(1000);  // second reset
  fake.port.Feed("der Ready\r\n");
  EXPECT_EQ(WritesFrom(2), kReset);
  EXPECT_EQ(s.DownloadStage, 0);
}

TEST_F(DownloadTest, AbortWhileATimeOutIsShownEndsTheDownloadOnce) {
  Start(3000);
  fake.port.Feed("Boot Loader Ready\r\n");
  fake.messages.whileShown = [&](const std::string&) { ui.DownloadButton.UserClick(); };
  fake.clock.Advance(2000);
  EXPECT_EQ(fake.messages.shown.size(), 1u);
  EXPECT_EQ(WritesFrom(3), kReset);
  ExpectRestored();
}

TEST_F(DownloadTest, StoppedBeforeReadyStartsTheTransferAtOnce) {
  Start(3000);
  fake.port.Feed("Boot Loader Stopped\r\n");
  EXPECT_EQ(s.DownloadStage, 2);
  EXPECT_EQ(ui.DownloadStatus.Text(), "Sending prog.hex ...");
  EXPECT_EQ(WritesFrom(2).size(), 2u);
  EXPECT_EQ(WritesFrom(2)[0] + WritesFrom(2)[1], ProgramBytes(2000));
  EXPECT_FALSE(fake.downloadTimer.Enabled());
  EXPECT_EQ(fake.port.SThreshold(), 500);
}

struct TransferCase {
  std::size_t length;
  int sendEvents;               // send events until the last byte is handed to the port
  std::vector<float> progress;  // values the bar takes while sending
};

void PrintTo(const TransferCase& k, std::ostream* os) {
  *os << k.length << " bytes";
}

std::string LengthName(const ::testing::TestParamInfo<TransferCase>& param) {
  return std::to_string(param.param.length) + "Bytes";
}

class DownloadTransferTest : public DownloadTest,
                             public ::testing::WithParamInterface<TransferCase> {};

TEST_P(DownloadTransferTest, CardReceivesTheFileExactlyThenFlashesForEightSeconds) {
  const TransferCase& k = GetParam();
  Start(k.length);
  fake.port.Feed("Boot Loader Ready\r\n");
  const std::size_t mark = fake.port.writes.size();
  progress.clear();
  fake.port.Feed("Boot Loader Stopped\r\n");
  for (int i = 0; i < k.sendEvents; ++i) {
    EXPECT_EQ(ui.DownloadStatus.Text(), "Sending prog.hex ...");
    EXPECT_EQ(fake.port.SThreshold(), 500);
    EXPECT_FALSE(fake.downloadTimer.Enabled());
    fake.port.RaiseSend();
  }
  std::vector<float> expected = k.progress;
  if (!expected.empty()) expected.push_back(0);  // flashing starts from the bottom
  ExpectValues(progress, expected);

  std::string sent;
  for (const auto& w : WritesFrom(mark)) sent += w;
  EXPECT_EQ(sent, ProgramBytes(k.length));
  EXPECT_EQ(ui.DownloadStatus.Text(), "Flashing prog.hex ...");
  EXPECT_EQ(ui.DownloadProgress.Value(), 0);
  EXPECT_EQ(fake.port.SThreshold(), 0);
  EXPECT_TRUE(fake.downloadTimer.Enabled());
  EXPECT_EQ(fake.downloadTimer.Interval(), 400);

  // Nothing follows the file, even on a stray send event.
  const std::size_t end = fake.port.writes.size();
  fake.port.RaiseSend();
  EXPECT_EQ(fake.port.writes.size(), end);

  progress.clear();
  fake.clock.Advance(19 * 400);
  EXPECT_TRUE(s.Downloading);
  EXPECT_EQ(ui.DownloadProgress.Value(), 95);
  EXPECT_EQ(fake.port.writes.size(), end);
  fake.clock.Advance(400);
  std::vector<float> flashing;
  for (int v = 5; v <= 100; v += 5) flashing.push_back(static_cast<float>(v));
  ExpectValues(progress, flashing);
  EXPECT_EQ(WritesFrom(end), kReset);
  ExpectRestored();
}

INSTANTIATE_TEST_SUITE_P(
    FileLengths, DownloadTransferTest,
    ::testing::Values(TransferCase{1000, 0, {}}, TransferCase{2000, 0, {100}},
                      TransferCase{2500, 1, {80, 100}}, TransferCase{3000, 1, {66.67f, 100}},
                      TransferCase{10500, 9, {19.05f, 29, 38, 48, 57, 67, 76, 86, 95, 100}}),
    LengthName);

TEST_F(DownloadTest, LongFileGoesOutInElevenBlocksTheLastHoldingTheRest) {
  ReachSending(10500);
  for (int i = 0; i < 9; ++i) fake.port.RaiseSend();
  std::vector<std::size_t> sizes;
  for (const auto& w : WritesFrom(3)) sizes.push_back(w.size());
  std::vector<std::size_t> expected(10, 1000);
  expected.push_back(500);
  EXPECT_EQ(sizes, expected);
}

TEST_F(DownloadTest, TextDuringTheTransferIsShownButNeitherExaminedNorKept) {
  ReachSending(10500);
  const std::size_t mark = fake.port.writes.size();
  const std::string rx = s.RxBuffer;
  fake.port.Feed("Boot Loader Ready\r\nBoot Loader Stopped\r\n");
  fake.port.Feed(std::string(5000, 'x'));
  EXPECT_EQ(fake.port.writes.size(), mark);
  EXPECT_EQ(s.ResponseLine, "");
  EXPECT_EQ(s.RxBuffer, rx);
  EXPECT_EQ(s.DownloadStage, 2);
  EXPECT_EQ(ui.DownloadStatus.Text(), "Sending prog.hex ...");
  EXPECT_NE(ui.TerminalText.Text().find("x"), std::string::npos);
  fake.port.RaiseSend();
  EXPECT_EQ(WritesFrom(mark), std::vector<std::string>{ProgramBytes(10500).substr(2000, 1000)});
}

TEST_F(DownloadTest, ProgramFileGoneWhenTheTransferStartsIsReportedAndEndsTheDownload) {
  const struct {
    std::function<void()> spoil;
    std::string box;
  } cases[] = {
      {[this] { fake.files.disk.erase("/p/prog.hex"); },
       "The program file /p/prog.hex cannot be read: No such file or directory."},
      {[this] { fake.files.disk["/p/prog.hex"].locked = true; },
       "The program file /p/prog.hex cannot be read: The process cannot access the file because "
       "it is being used."},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.box);
    fake.messages.shown.clear();
    Start(3000);
    k.spoil();
    fake.port.Feed("Boot Loader Ready\r\n");
    const std::size_t mark = fake.port.writes.size();
    fake.port.Feed("Boot Loader Stopped\r\n");
    EXPECT_EQ(fake.messages.shown, std::vector<std::string>{k.box});
    EXPECT_EQ(WritesFrom(mark), kReset);
    ExpectRestored();
    Detect();
  }
}

TEST_F(DownloadTest, AbortDuringPendingEventsBeforeTheFileOpensStartsNoTransfer) {
  Start(3000);
  fake.port.Feed("Boot Loader Ready\r\n");
  const std::size_t mark = fake.port.writes.size();
  fake.pump.pendingEvents = [&] { ui.DownloadButton.UserClick(); };
  fake.port.Feed("Boot Loader Stopped\r\n");
  EXPECT_EQ(fake.pump.processed, 1);
  EXPECT_EQ(WritesFrom(mark), kReset);
  EXPECT_TRUE(fake.messages.shown.empty());
  ExpectRestored();
  fake.port.RaiseSend();
  EXPECT_EQ(WritesFrom(mark), kReset);
}

TEST_F(DownloadTest, AbortDuringPendingEventsOfASendEventWritesNoBlockAfterIt) {
  ReachSending(10500);
  const std::size_t mark = fake.port.writes.size();
  fake.pump.pendingEvents = [&] { ui.DownloadButton.UserClick(); };
  fake.port.RaiseSend();
  EXPECT_EQ(WritesFrom(mark), kReset);
  ExpectRestored();
}

TEST_F(DownloadTest, CommandQueuedBeforeADownloadIsNeverSent) {
  ui.CommandLineText.SetText("versions");
  ui.CommandLineButton.UserClick();
  ReachSending(2000);
  ui.CommandLineButton.UserClick();  // the boot loader view takes commands too
  EXPECT_TRUE(s.CommandLinePending);
  fake.clock.Advance(8000);  // flashing to its end
  ASSERT_FALSE(s.Downloading);
  EXPECT_FALSE(s.CommandLinePending);
  for (const auto& w : fake.port.writes) EXPECT_NE(w, "versions\r\n");
  Detect();
  ui.CommandLineText.SetText("versions");
  fake.clock.Advance(3000);
  for (const auto& w : fake.port.writes) EXPECT_NE(w, "versions\r\n");
}

TEST_F(DownloadTest, LineBegunBeforeADownloadIsCompletedAfterIt) {
  fake.port.Feed("CPE Applic");
  Start(3000);
  fake.port.Feed("Boot Loader Ready\r\n");
  ui.DownloadButton.UserClick();
  fake.port.Feed("ation Initialized\r\n");
  EXPECT_EQ(s.ProgramType, ProgramType::CpeApp);
}

TEST_F(DownloadTest, ClosingTheWindowDuringADownloadSendsNothingAndClosesEverything) {
  ReachSending(10500);
  const std::size_t mark = fake.port.writes.size();
  UnloadMainWindow(c);
  EXPECT_EQ(fake.port.writes.size(), mark);
  EXPECT_EQ(fake.files.OpenCount(), 0);
  EXPECT_FALSE(fake.port.IsOpen());
  EXPECT_FALSE(fake.transmitTimer.Enabled());
  EXPECT_FALSE(fake.downloadTimer.Enabled());
}

enum class State { Rebooting, Stopping, Sending, Flashing };

void PrintTo(State state, std::ostream* os) {
  *os << static_cast<int>(state);
}

std::string StateName(const ::testing::TestParamInfo<State>& param) {
  const char* const names[] = {"Rebooting", "Stopping", "Sending", "Flashing"};
  return names[static_cast<int>(param.param)];
}

class DownloadStateTest : public DownloadTest, public ::testing::WithParamInterface<State> {
 protected:
  void Reach(State state) {
    Start(state == State::Flashing ? 2500 : 10500);
    if (state == State::Rebooting) return;
    fake.port.Feed("Boot Loader Ready\r\n");
    if (state == State::Stopping) return;
    fake.port.Feed("Boot Loader Stopped\r\n");
    fake.port.RaiseSend();
    if (state == State::Flashing) fake.clock.Advance(1200);
  }
};

TEST_P(DownloadStateTest, AbortEndsTheDownloadAtOnceAndRestartsTheCard) {
  Reach(GetParam());
  const std::size_t mark = fake.port.writes.size();
  ui.DownloadButton.UserClick();
  EXPECT_EQ(WritesFrom(mark), kReset);
  ExpectRestored();
  fake.port.Feed("Boot Loader Ready\r\n");
  fake.port.RaiseSend();
  fake.clock.Advance(30000);
  EXPECT_EQ(WritesOtherThanPolls(mark), kReset);
  EXPECT_TRUE(fake.messages.shown.empty());
}

TEST_P(DownloadStateTest, LostPortEndsTheDownloadInOrderThenShowsOneBox) {
  Reach(GetParam());
  const std::size_t mark = fake.port.writes.size();
  fake.port.Lose("Input/output error");
  fake.messages.whileShown = [&](const std::string&) {
    // The download is over before the engineer is told.
    EXPECT_FALSE(s.Downloading);
    EXPECT_EQ(fake.files.OpenCount(), 0);
    EXPECT_FALSE(ui.DownloadStatus.Visible());
    EXPECT_EQ(ui.DownloadButton.Caption(), "Program Download");
    EXPECT_TRUE(fake.transmitTimer.Enabled());
    EXPECT_FALSE(ui.CommPortSelect.Locked());
    EXPECT_EQ(ui.CommPortSelect.ListIndex(), 0);
  };
  c.RunDeferred();
  EXPECT_EQ(fake.messages.shown, std::vector<std::string>{"Input/output error"});
  ExpectRestored();
  EXPECT_EQ(ui.CommPortSelect.ListIndex(), 0);
  EXPECT_EQ(ui.CommPortSelect.ItemText(0), "DISCONNECT");
  EXPECT_EQ(s.PortListIndex, 0);
  fake.clock.Advance(30000);
  c.RunDeferred();
  EXPECT_EQ(fake.port.writes.size(), mark);
  EXPECT_EQ(fake.messages.shown.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryState, DownloadStateTest,
                         ::testing::Values(State::Rebooting, State::Stopping, State::Sending,
                                           State::Flashing),
                         StateName);

}  // namespace
}  // namespace velmora::testing
