// Program download: the boot loader handshake, the paced transfer, flashing, and every way out
// (time-outs, aborts, a lost port, a closed window) putting the window back and restarting the
// card.
#include <gtest/gtest.h>

#include <cstdio>
#include <utility>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

const std::string kProgram = "/p/prog.hex";
// What the window and the platform look like once a download has ended.
const std::string kEnded = "ended";
const std::string kEndedLook =
    "DownloadStatus.Visible DownloadProgress.Visible OpConfig.Visible DownloadButton "
    "DownloadButton.Visible Program";

struct Row {
  std::size_t length;         // of the program file
  std::string script;         // after the click on "Program Download" (see Run)
  std::string writes;         // all the port got after that click
  std::string boxes;          // each box's text, and the button's caption while it was shown
  std::string state;          // see State, or kEnded
  std::string progress = "";  // every value the bar took, from the start of the transfer
};

class DownloadTest : public ConnectedConsoleTest {
 protected:
  void SetUp() override {
    ConnectedConsoleTest::SetUp();
    ui.DownloadProgress.SetObserver([this](Control&, Prop p) {
      if (p != Prop::Value) return;
      char v[16];
      std::snprintf(v, sizeof v, "%s%.4g", progress.empty() ? "" : " ",
                    ui.DownloadProgress.Value());
      progress += v;
    });
    fake.messages.whileShown = [this](const std::string& text) {
      boxes += text + "/" + ui.DownloadButton.Caption() + " ";
      Script(std::exchange(whileBox, ""));
    };
  }
  // The card in the line card application, the file chosen, the download started.
  void Start(std::size_t length) {
    fake.files.disk[kProgram] = {IntelHex(length)};
    if (s.ProgramType == ProgramType::Unknown) Receive("Line Card Application Initialized");
    fake.chooser.answers.push_back(ChosenFile{kProgram, "prog.hex"});
    fake.port.writes.clear();
    boxes.clear();
    ui.DownloadButton.UserClick();
    progress.clear();
  }
  // Script, and "@pending ACTION" (ACTION runs as pending events the next time they are let run),
  // "@whilebox ACTION" (ACTION runs behind the next box).
  void Run(const std::string& script) {
    std::istringstream in(script);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("@pending ", 0) == 0)
        fake.pump.pendingEvents = [this, a = line.substr(9)] { Script(a); };
      else if (line.rfind("@whilebox ", 0) == 0)
        whileBox = line.substr(10);
      else
        Script(line);
    }
  }
  // The writes: commands without their CR LF, "^" a lone CR LF, "#n" the program's next n bytes.
  std::string Writes() {
    const std::string& file = fake.files.disk[kProgram].bytes;
    std::string all;
    std::size_t sent = 0;
    for (const std::string& w : fake.port.writes) {
      if (w == "cpu\r\n") continue;  // the poll of an unknown card, after the end
      const bool data = w != "\r\n" && file.compare(sent, w.size(), w) == 0;
      all += (all.empty() ? "" : " ") + (w == "\r\n" ? "^"
                                         : data      ? "#" + std::to_string(w.size())
                                                     : w.substr(0, w.size() - 2));
      if (data) sent += w.size();
    }
    return all;
  }
  // While a download runs: the status text, the send threshold, the timers, the files open.
  std::string State() {
    if (Look(kEndedLook) == "0|0|1|Program Download|0|UNKNOWN" && fake.transmitTimer.Enabled() &&
        !fake.downloadTimer.Enabled() && fake.port.SThreshold() == 0 &&
        fake.files.OpenCount() == 0 && !ui.CommPortSelect.Locked() && !s.Downloading)
      return kEnded;
    return Look("DownloadStatus Program DownloadButton") + " threshold " +
           std::to_string(fake.port.SThreshold()) + (fake.transmitTimer.Enabled() ? " poll" : "") +
           (fake.downloadTimer.Enabled()
                ? " watchdog " + std::to_string(fake.downloadTimer.Interval())
                : "") +
           " files " + std::to_string(fake.files.OpenCount()) +
           (ui.CommPortSelect.Locked() ? " locked" : "");
  }
  void Check(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
      Start(r.length);
      EXPECT_EQ(ui.DownloadProgress.Value(), 0) << "the bar starts empty";
      Run(r.script);
      EXPECT_EQ(Writes(), r.writes) << r.length << " bytes: " << r.script;
      EXPECT_EQ(boxes, r.boxes) << r.script;
      EXPECT_EQ(State(), r.state) << r.script;
      EXPECT_TRUE(r.progress.empty() || progress == r.progress) << progress << " " << r.script;
      // Whatever happened, the next download starts from a clean slate.
      if (s.Downloading) ui.DownloadButton.UserClick();
      c.RunDeferred();
      fake.messages.whileShown = nullptr;
      ui.CommPortSelect.UserChoose(0);
      SetUp();
    }
  }
  std::string boxes, progress, whileBox;
};

const std::string kRebooting = "Rebooting Radio Card ...|BOOT LOADER|Abort Download threshold 0";
const std::string kSending = "Sending prog.hex ...|BOOT LOADER|Abort Download threshold 500";
const std::string kFlashing = "Flashing prog.hex ...|BOOT LOADER|Abort Download threshold 0";
const std::string kReady = "Boot Loader Ready\n", kStopped = "Boot Loader Stopped\n";

TEST_F(DownloadTest, HandshakeRestartsTheCardCatchesItsBootLoaderAndGivesUpInTime) {
  // The port cannot be changed meanwhile.
  Check({{3000, "@raw x\n@choose CommPortSelect 0", "^ reset", "",
          kRebooting + " watchdog 9000 files 0 locked"},
         // Not answering: reset twice more, then one box at 18 s; the last reset after the box.
         {3000, "@ms 8999", "^ reset", "", kRebooting + " watchdog 9000 files 0 locked"},
         {3000, "@ms 9000", "^ reset ^ reset", "", kRebooting + " watchdog 9000 files 0 locked"},
         {3000, "@whilebox @ms 30000\n@ms 18000", "^ reset ^ reset ^ reset",
          "Boot Loader Not Detected/Abort Download ", kEnded},
         // "Boot Loader Ready", however it arrives, is answered with "stop" and a 2 s watchdog.
         {3000, "boot loader ready\n@raw Boot Loa\n@raw der Ready", "^ reset stop", "",
          kRebooting + " watchdog 2000 files 0 locked"},
         {3000, kReady + "@ms 1500\n" + kReady + "@ms 1999", "^ reset stop stop", "",
          kRebooting + " watchdog 2000 files 0 locked"},
         {3000, kReady + "@whilebox @ms 10000\n@ms 2000", "^ reset stop ^ reset",
          "Boot Loader Unresponsive/Abort Download ", kEnded},
         {3000, kReady + "@whilebox @click DownloadButton\n@ms 2000", "^ reset stop ^ reset",
          "Boot Loader Unresponsive/Abort Download ", kEnded},
         // A reset forgets a phrase begun before it.
         {3000, "@ms 8000\n@raw Boot Loa\n@ms 1000\n@raw der Ready", "^ reset ^ reset", "",
          kRebooting + " watchdog 9000 files 0 locked"}});
}

TEST_F(DownloadTest, CardGetsTheFileExactlyInPacedBlocksThenFlashesForEightSeconds) {
  const std::string go = kReady + kStopped;
  std::string sends, blocks, flashing;
  for (int i = 0; i < 9; ++i) sends += "@send\n", blocks += i < 8 ? " #1000" : "";
  for (int v = 5; v < 100; v += 5) flashing += " " + std::to_string(v);
  Check({{3000, kStopped, "^ reset #1000 #1000", "", kSending + " files 0 locked", "66.67"},
         {1000, go, "^ reset stop #1000", "", kFlashing + " watchdog 400 files 0 locked"},
         {2500, go + "@send\n@send", "^ reset stop #1000 #1000 #500", "",
          kFlashing + " watchdog 400 files 0 locked", "80 100 0"},
         {10500, go + sends, "^ reset stop #1000 #1000" + blocks + " #500", "",
          kFlashing + " watchdog 400 files 0 locked", "19.05 29 38 48 57 67 76 86 95 100 0"},
         {3000, go + "@send\n@ms 7600", "^ reset stop #1000 #1000 #1000", "",
          kFlashing + " watchdog 400 files 0 locked", "66.67 100 0" + flashing},
         {3000, go + "@send\n@ms 8000\n@send", "^ reset stop #1000 #1000 #1000 ^ reset", "", kEnded,
          "66.67 100 0" + flashing + " 100"},
         // What the card says during the transfer is shown only.
         {10500, go + go + "@send", "^ reset stop #1000 #1000 #1000", "",
          kSending + " files 0 locked"}});
}

TEST_F(DownloadTest, EveryWayOutEndsTheDownloadOnceAndRestartsTheCard) {
  const std::string go = kReady + kStopped;
  const std::string after = "\n" + kReady + "@send\n@ms 30000";
  Check({{3000, "@click DownloadButton" + after, "^ reset ^ reset", "", kEnded},
         {3000, kReady + "@click DownloadButton" + after, "^ reset stop ^ reset", "", kEnded},
         {10500, go + "@send\n@click DownloadButton" + after,
          "^ reset stop #1000 #1000 #1000 ^ reset", "", kEnded},
         {2500, go + "@send\n@ms 1200\n@click DownloadButton" + after,
          "^ reset stop #1000 #1000 #500 ^ reset", "", kEnded},
         // A lost port ends the download before the engineer is told, and nothing more is sent.
         {3000, "@lose\n@deferred" + after, "^ reset", "Device disconnected/Program Download ",
          kEnded},
         {3000, kReady + "@lose\n@deferred", "^ reset stop",
          "Device disconnected/Program Download ", kEnded},
         {10500, go + "@send\n@lose\n@deferred" + after, "^ reset stop #1000 #1000 #1000",
          "Device disconnected/Program Download ", kEnded},
         // An abort while pending events run, before the file opens or in a send event.
         {3000, kReady + "@pending @click DownloadButton\n" + kStopped + "@send",
          "^ reset stop ^ reset", "", kEnded},
         {10500, go + "@pending @click DownloadButton\n@send", "^ reset stop #1000 #1000 ^ reset",
          "", kEnded}});
}

TEST_F(DownloadTest, StartAsksForTheProgramFileAndARefusedFileChangesNothing) {
  Receive("Line Card Application Initialized");
  Receive("Boot Loader Ready Boot Loader Stopped");  // the last line read before the start
  Start(3000);
  Script("@raw x");
  EXPECT_EQ(Writes(), "^ reset");
  EXPECT_TRUE(fake.chooser.requests.at(0).mustExist);
  ui.DownloadButton.UserClick();  // aborted
  fake.files.disk["/p/empty.hex"] = {};
  fake.files.disk["/p/locked.hex"] = {IntelHex(100), false, true};
  const struct {
    std::optional<ChosenFile> answer;
    std::string box;
  } rows[] = {{std::nullopt, ""},
              {ChosenFile{"/p/empty.hex", "empty.hex"}, "*"},
              {ChosenFile{"/p/locked.hex", "locked.hex"},
               "The program file /p/locked.hex cannot be read: The process cannot access the file "
               "because it is being used."},
              {ChosenFile{"/p/gone.hex", "gone.hex"},
               "The program file /p/gone.hex cannot be read: No such file or directory."}};
  for (const auto& row : rows) {
    Receive("Line Card Application Initialized");
    fake.port.writes.clear();
    fake.messages.shown.clear();
    fake.chooser.answers.push_back(row.answer);
    ui.DownloadButton.UserClick();
    EXPECT_EQ(fake.messages.shown.size(), row.box.empty() ? 0u : 1u);
    EXPECT_TRUE(row.box.size() < 2 || fake.messages.shown.at(0) == row.box) << row.box;
    EXPECT_EQ(Writes() + Look("Program DownloadStatus.Visible OpConfig.Visible DownloadButton") +
                  std::to_string(fake.files.OpenCount()) +
                  std::to_string(fake.transmitTimer.Enabled()),
              "LINE CARD APP|0|1|Program Download01");
  }
}

}  // namespace
}  // namespace velmora::testing
