// Faults at every step, against the real console: the adapter pulled while polling and in each
// state of a download, a card that falls silent during the boot loader handshake, a full disk
// under the log, a program file too large, noise and a flood. After each the
// console must have shown exactly the boxes the fault calls for, put its window back, hold no
// file it opened, sit idle, and take the port again. Each test runs several faults against one
// console.
#include <cstdio>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

constexpr const char* kProgram = "LINE CARD APP";
#ifdef __SANITIZE_ADDRESS__
constexpr long kMaxRssKb = 1024L * 1024;  // the sanitizer's quarantine holds up to 256 MB freed
#else
constexpr long kMaxRssKb = 200L * 1024;
#endif

class FaultMatrix : public CardAndConsole {
 protected:
  void Start(std::vector<std::string> options) {
    options.insert(options.begin(), {"--start", "linecard"});
    ASSERT_NO_FATAL_FAILURE(Connect(options, kProgram));
    NoteLine();
  }
  // The console holds the line by this name: the checks that it let go of it can see it. What
  // the card takes from now on is the next case's.
  void NoteLine() {
    device = card->Device();
    ASSERT_NE(HeldOpen({device}), "") << device;
    mark = card->Trace().size();
  }
  // Which of the paths the console holds open (a removed file shows as "PATH (deleted)").
  std::string HeldOpen(const std::vector<std::string>& paths) {
    std::string held;
    std::error_code ec;
    const auto fds = "/proc/" + std::to_string(console->pid()) + "/fd";
    for (const auto& fd : std::filesystem::directory_iterator(fds, ec)) {
      const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
      for (const auto& path : paths)
        if (target == path || target == path + " (deleted)") held += target + " ";
    }
    return held;
  }
  // Back to DISCONNECT, the line let go, then COM1 again: the card is recognised afresh.
  void ChooseCom1Again() {
    console->Do("choose CommPortSelect 0");
    EXPECT_EQ(console->Get("ProgramText"), "UNKNOWN");
    ExpectClosed({device});
    EXPECT_EQ(console->Get("CommPortSelect", "count"), "2");
    ASSERT_NO_FATAL_FAILURE(ChooseCom1(kProgram));
    NoteLine();
  }
  // Chooses the file and clicks Program Download; answers once the click has been handled.
  void BeginDownload(const std::string& file) {
    console->Do("answer-file " + file);
    console->Do("click DownloadButton");
    ASSERT_EQ(console->Get("DownloadButton"), "Abort Download");
  }
  void ExpectClosed(const std::vector<std::string>& paths) {
    // Closing may trail the window's update by an event or two.
    WaitUntil([&] { return HeldOpen(paths).empty(); }, 1s);
    EXPECT_EQ(HeldOpen(paths), "") << "still open";
  }
  // One box holding `part` is shown and closed (none if `part` is empty); the window is usable,
  // none of `files` is open, the console idles and shows no late box.
  void ExpectAftermath(const std::string& part, const std::vector<std::string>& files,
                       std::chrono::milliseconds timeout = 10s) {
    const std::size_t expected = part.empty() ? 0 : 1;
    const auto shown = console->WaitForBoxes(boxes + expected, timeout);
    ASSERT_EQ(shown.size(), boxes + expected) << (shown.empty() ? "" : shown.back());
    if (expected) {
      EXPECT_NE(shown.back().find(part), std::string::npos) << shown.back();
      EXPECT_TRUE(console->CloseBox());
      std::printf("fault matrix: box \"%s\"\n", shown.back().c_str());
    }
    boxes += expected;
    EXPECT_EQ(console->Get("DownloadButton"), "Program Download");
    EXPECT_EQ(console->Get("CommPortSelect", "enabled"), "1");
    EXPECT_EQ(console->Get("DownloadStatus", "visible"), "0");
    // Unknown, or whatever the card said it runs: a reset card passes through its boot loader.
    const std::string program = console->Get("ProgramText");
    EXPECT_TRUE(program == "UNKNOWN" || program == "BOOT LOADER" || program == kProgram) << program;
    ExpectClosed(files);
    const double percent = CpuPercent(console->pid(), 3s);
    std::printf("fault matrix: console CPU %.1f%% over 3 s after the fault\n", percent);
    EXPECT_LT(percent, 5.0) << "a busy loop";
    EXPECT_FALSE(console->CloseBox()) << "a box is still shown";
    EXPECT_EQ(console->Boxes().size(), boxes) << "a late box";
  }

  std::string device;
  std::size_t boxes = 0;
};

// The adapter is pulled: the download (if any) ends in order, DISCONNECT shows, nothing is held
// open. Put back, the line is reopened by itself (COM1 chosen again) and the download is not
// resumed.
TEST_F(FaultMatrix, AnAdapterPulledWhilePollingOrInAnyStateOfADownloadIsReopenedWhenPutBack) {
  ASSERT_NO_FATAL_FAILURE(Start({"--baud", "57600"}));
  const std::string small = MakeProgram(ws, 4000);
  const std::string large = MakeProgram(ws, 40000, "large.hex");  // about 19 s at 57600 baud
  struct Row {
    const char* when;
    std::string file;             // none: no download
    bool silent;                  // before the download begins
    std::function<void()> bring;  // to the state the adapter is pulled in
    const char* program_after;    // BOOT LOADER: pulled during the transfer
  };
  const std::vector<Row> rows = {
      {"polling", "", false, [] {}, kProgram},
      // The card says "Boot Loader Ready" 300 ms after it takes the reset: pull before that.
      {"rebooting", small, false, [&] { ASSERT_TRUE(CardTook({"reset"}, 5s)); }, kProgram},
      // It says Ready and falls silent in one breath, so that the console's "stop" meets a
      // silent card; the pull comes within the 2 s the console waits for "Boot Loader Stopped".
      {"stopping", small, true,
       [&] {
         ASSERT_TRUE(CardTook({"reset"}, 5s));
         card->Operator("silent off\nsay Boot Loader Ready\nsilent on");
         ASSERT_TRUE(CardTook({"reset", "stop"}, 3s));
         EXPECT_EQ(console->Get("DownloadStatus"), "Rebooting Radio Card ...");
       },
       kProgram},
      // Nobody restarts the card after these: it waits in its boot loader.
      {"sending", large, false,
       [&] {
         ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Sending large.hex ...", 10s));
         ASSERT_TRUE(CardTook({"[program file begins]"}, 2s));
       },
       "BOOT LOADER"},
      {"flashing", small, false,
       [&] {
         ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Flashing prog.hex ...", 15s));
       },
       "BOOT LOADER"},
  };
  // What happened, in the console's own words (not whatever error came last), and what follows.
  const std::string lost = "The connection to COM1 (" + card->Link() +
                           ") was lost: the adapter was removed or the line was closed.\n\n"
                           "The console will reconnect to COM1 by itself when the device returns.";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.when);
    if (console->Get("ProgramText") != kProgram) card->Operator("reset");
    ASSERT_TRUE(console->WaitFor("ProgramText", "text", kProgram, 10s));
    mark = card->Trace().size();
    if (row.silent) card->Operator("silent on");
    if (!row.file.empty()) {
      ASSERT_NO_FATAL_FAILURE(BeginDownload(row.file));
    }
    ASSERT_NO_FATAL_FAILURE(row.bring());
    card->Operator("unplug");
    ASSERT_NO_FATAL_FAILURE(ExpectAftermath(lost, {row.file, device}));
    EXPECT_EQ(console->Get("CommPortSelect", "index"), "0");
    EXPECT_EQ(console->Get("ProgramText"), "UNKNOWN");
    card->Operator("silent off\nreplug");
    EXPECT_TRUE(console->WaitFor("ProgramText", "text", row.program_after, 10s));
    EXPECT_EQ(console->Get("CommPortSelect"), "COM1");
    EXPECT_LE(Took("[program file begins]"), 1) << "the download was resumed";
    EXPECT_TRUE(row.when != std::string("rebooting") || Took("stop") == 0)
        << "the pull came after Ready";
    ASSERT_NO_FATAL_FAILURE(NoteLine());
  }
}

TEST_F(FaultMatrix, ACardSilentBeforeOrAfterBootLoaderReadyEndsTheDownloadWithOneBox) {
  ASSERT_NO_FATAL_FAILURE(Start({}));
  const std::string program = MakeProgram(ws, 4000);
  for (const bool ready_said : {false, true}) {
    SCOPED_TRACE(ready_said ? "after Ready" : "before Ready");
    card->Operator("silent on");
    ASSERT_NO_FATAL_FAILURE(BeginDownload(program));
    if (ready_said) {
      ASSERT_TRUE(CardTook({"reset"}, 5s));
      card->Operator("silent off\nsay Boot Loader Ready\nsilent on");
      ASSERT_TRUE(CardTook({"reset", "stop"}, 3s));
      ASSERT_NO_FATAL_FAILURE(ExpectAftermath("Boot Loader Unresponsive", {program}));
    } else {
      // Two resets 9 s apart, then the time-out: 18 s.
      ASSERT_NO_FATAL_FAILURE(ExpectAftermath("Boot Loader Not Detected", {program}, 25s));
      EXPECT_GE(Took("reset"), 2);
      EXPECT_EQ(Took("stop"), 0);
    }
    EXPECT_EQ(console->Get("ProgramText"), "UNKNOWN");
    card->Operator("silent off");
    EXPECT_TRUE(console->WaitFor("ProgramText", "text", kProgram, 10s));
    ASSERT_NO_FATAL_FAILURE(ChooseCom1Again());
  }
}

TEST_F(FaultMatrix, ALogOnAFullDiskAndAHugeProgramFileEachEndWithOneBoxSayingWhy) {
  ASSERT_NO_FATAL_FAILURE(Start({}));
  // A file refused once chosen, before the card is touched: no reset, no program byte. (A file
  // refused for what it holds goes the same way: the unit tests name each fault.)
  const std::string huge = ws.Path("huge.hex");
  std::ofstream(huge).close();
  std::filesystem::resize_file(huge, 17 << 20);  // refused by its length alone
  console->Do("answer-file " + huge);
  console->Do("click DownloadButton");
  ASSERT_NO_FATAL_FAILURE(ExpectAftermath(
      "huge.hex is not a program file: it is larger than 16 MiB, more than any program.", {huge}));
  EXPECT_EQ(console->Get("ProgramText"), kProgram);
  EXPECT_TRUE(CardTook({"rdm ff28 4", "rdm ff12 8"}, 3s)) << "polling stopped";
  EXPECT_EQ(Took("reset"), 0);
  EXPECT_EQ(Took("[program file begins]"), 0);

  console->Do("tab 2");
  console->Do("answer-file /dev/full");
  console->Do("click LoggingButton");
  card->Operator("say something to log");
  ASSERT_NO_FATAL_FAILURE(ExpectAftermath("No space left on device", {"/dev/full"}));
  EXPECT_EQ(console->Get("LoggingButton"), "Activate Logging");
  EXPECT_EQ(console->Get("ProgramText"), kProgram);
  console->Do("tab 0");
  ASSERT_NO_FATAL_FAILURE(ChooseCom1Again());
}

TEST_F(FaultMatrix, NoiseLeavesTheConsoleAnsweringInBoundedMemoryAndPollingAfterwards) {
  ASSERT_NO_FATAL_FAILURE(Start({}));
  double rss_max = 0;
  console->Do("lateness start");
  card->Operator("noise 5");
  for (int i = 0; i < 10; ++i, std::this_thread::sleep_for(500ms)) {  // samples over the noise
    ASSERT_EQ(console->Ask("get ProgramText text", 5s).rfind("ok", 0), 0u) << "no answer";
    rss_max = std::max(rss_max, double(drive::StatusKb(console->pid(), "VmRSS")));
  }
  std::printf("fault matrix: noise: RSS %.0f kB at most; worst event loop lateness %s us\n",
              rss_max, console->Do("lateness read").c_str());
  EXPECT_LT(rss_max, kMaxRssKb) << "memory grew without bound";
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", kProgram, 15s));
  mark = card->Trace().size();
  EXPECT_TRUE(CardTook({"rdm ff28 4", "rdm ff12 8", "rdm ff28 4"}, 6s)) << "polling stopped";
  ASSERT_NO_FATAL_FAILURE(ExpectAftermath("", {}));
  ASSERT_NO_FATAL_FAILURE(ChooseCom1Again());
}

TEST_F(FaultMatrix, AFloodDuringADownloadStillLetsTheFileArriveByteForByte) {
  const std::string received = ws.Path("received.hex");
  ASSERT_NO_FATAL_FAILURE(Start({"--baud", "57600", "--program-out", received}));
  const std::string program = MakeProgram(ws, 12000);  // about 6 s at 57600 baud
  ASSERT_NO_FATAL_FAILURE(BeginDownload(program));
  EXPECT_EQ(console->Get("DownloadStatus"), "Rebooting Radio Card ...");
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Sending prog.hex ...", 10s));
  const double cpu = drive::ProcessCpu(console->pid()).Total();
  card->Operator("flood 5000000");
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Flashing prog.hex ...", 60s));
  std::printf("fault matrix: flood during a download: %.2f s of console CPU until flashing\n",
              drive::ProcessCpu(console->pid()).Total() - cpu);
  // Eight seconds of flashing, then the window is back and the card restarts with its new
  // program (its banner follows at once: the UNKNOWN view may last only milliseconds).
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "visible", "0", 20s));
  EXPECT_EQ(console->Get("OpConfig", "visible"), "1");
  ASSERT_NO_FATAL_FAILURE(ExpectAftermath("", {program}));
  EXPECT_TRUE(Slurp(received) == Slurp(program)) << "the card did not get the file exactly";
  EXPECT_TRUE(CardTook(
      {"[program file ends: Program received: 751 records, 12000 data bytes, checksums OK]"}, 1s));
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", kProgram, 20s));
  ASSERT_NO_FATAL_FAILURE(ChooseCom1Again());
}

}  // namespace
}  // namespace velmora::e2e
