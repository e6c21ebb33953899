// Faults at every step, against the real console: the adapter pulled while polling and in each
// state of a download, a card that falls silent during the boot loader handshake, a full disk
// under the log, a program file that vanishes, noise and a flood. After each the console must
// have shown exactly the boxes the fault calls for, put its window back, hold no file it opened,
// sit idle, and take the port again. Each test runs several faults against one console.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

using Check = std::function<bool(const std::string&)>;
constexpr const char* kProgram = "LINE CARD APP";
#ifdef __SANITIZE_ADDRESS__
constexpr bool kAsan = true;
#else
constexpr bool kAsan = false;
#endif

Check Holding(std::string part) {
  return [part](const std::string& text) { return text.find(part) != std::string::npos; };
}
// A lost port's box tells what happened: not a download's time-out, nor whatever failed earlier
// (a hung-up line reads as end of file, which sets no error number).
bool DescribesALoss(const std::string& text) {
  for (const int stale : {0, ENOTTY, EAGAIN, EINTR, EINVAL})
    if (text == std::strerror(stale)) return false;
  return !text.empty() && text.rfind("Boot Loader", 0) != 0 &&
         text.find("Unknown error") == text.npos;
}

// Which of the paths a process holds open, from /proc (a removed file shows as "PATH (deleted)").
std::string HeldOpen(pid_t pid, const std::vector<std::string>& paths) {
  std::string held;
  std::error_code ec;
  for (const auto& fd :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
    for (const auto& path : paths)
      if (target == path || target == path + " (deleted)") held += target + " ";
  }
  return held;
}

// User plus system CPU seconds of a process, from the fields after its name's last ')'.
double CpuSeconds(pid_t pid) {
  const std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(std::min(stat.rfind(')') + 2, stat.size())));
  std::string skip;
  long long utime = 0, stime = 0;
  for (int field = 3; field <= 13; ++field) fields >> skip;
  fields >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

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
    ASSERT_NE(HeldOpen(console->pid(), {device}), "") << device;
    mark = card->Trace().size();
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
  bool CardTook(const std::vector<std::string>& commands, std::chrono::milliseconds timeout) {
    return card->WaitForCommands(commands, timeout, mark);
  }
  // Chooses the file and clicks Program Download; answers once the click has been handled.
  void BeginDownload(const std::filesystem::path& file) {
    console->Do("answer-file " + file.string());
    console->Do("click DownloadButton");
    ASSERT_EQ(console->Get("DownloadButton"), "Abort Download");
  }
  void ExpectClosed(const std::vector<std::string>& paths) {
    // Closing may trail the window's update by an event or two.
    WaitUntil([&] { return HeldOpen(console->pid(), paths).empty(); }, 1s);
    EXPECT_EQ(HeldOpen(console->pid(), paths), "") << "still open";
  }
  // One box that `box` accepts is shown and closed, or none if there is no `box`; the window is
  // usable, none of `files` is open, the console idles and shows no late box.
  void ExpectAftermath(const Check& box, const std::vector<std::string>& files,
                       std::chrono::milliseconds timeout = 10s) {
    const std::size_t expected = box ? 1 : 0;
    const auto shown = console->WaitForBoxes(boxes + expected, timeout);
    ASSERT_EQ(shown.size(), boxes + expected) << (shown.empty() ? "" : shown.back());
    if (box) {
      EXPECT_TRUE(box(shown.back())) << shown.back();
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
    const double cpu = CpuSeconds(console->pid());
    std::this_thread::sleep_for(3s);
    const double percent = (CpuSeconds(console->pid()) - cpu) / 3 * 100;
    std::printf("fault matrix: console CPU %.1f%% over 3 s after the fault\n", percent);
    EXPECT_LT(percent, 5.0) << "a busy loop";
    EXPECT_FALSE(console->CloseBox()) << "a box is still shown";
    EXPECT_EQ(console->Boxes().size(), boxes) << "a late box";
  }
  // The adapter is pulled: the download (if any) ends in order, DISCONNECT shows, nothing is held
  // open; after replugging the card is found again, running `program_after`.
  void PullAndReplug(std::vector<std::string> files, const std::string& program_after) {
    card->Operator("unplug");
    files.push_back(device);
    ASSERT_NO_FATAL_FAILURE(ExpectAftermath(DescribesALoss, files));
    EXPECT_EQ(console->Get("CommPortSelect", "index"), "0");
    EXPECT_EQ(console->Get("ProgramText"), "UNKNOWN");
    card->Operator("silent off\nreplug");
    ASSERT_TRUE(WaitUntil([&] { return !card->Device().empty(); }, 2s)) << "no new line";
    ASSERT_NO_FATAL_FAILURE(ChooseCom1(program_after));
    NoteLine();
  }

  std::string device;
  std::size_t mark = 0, boxes = 0;
};

TEST_F(FaultMatrix, AnAdapterPulledWhilePollingOrInAnyStateOfADownloadShowsOneBoxSayingWhy) {
  ASSERT_NO_FATAL_FAILURE(Start({"--baud", "57600"}));
  const std::string small = MakeProgram(ws, 4000);
  const std::string large = MakeProgram(ws, 40000, "large.hex");  // about 19 s at 57600 baud
  struct Row {
    const char* when;
    std::string file;             // none: no download
    bool silent;                  // before the download begins
    std::function<void()> bring;  // to the state the adapter is pulled in
    const char* program_after;    // BOOT LOADER: the program file is open when pulled
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
    if (row.program_after == std::string("BOOT LOADER")) {
      // The console opens the file once the events pending at "Sending" have run.
      ASSERT_TRUE(WaitUntil([&] { return HeldOpen(console->pid(), {row.file}) != ""; }, 5s))
          << "the program file is not open";
    }
    ASSERT_NO_FATAL_FAILURE(PullAndReplug({row.file}, row.program_after));
    EXPECT_TRUE(row.when != std::string("rebooting") || Took("stop", mark) == 0)
        << "the pull came after Ready";
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
      ASSERT_NO_FATAL_FAILURE(ExpectAftermath(Holding("Boot Loader Unresponsive"), {program}));
    } else {
      // Two resets 9 s apart, then the time-out: 18 s.
      ASSERT_NO_FATAL_FAILURE(ExpectAftermath(Holding("Boot Loader Not Detected"), {program}, 25s));
      EXPECT_GE(Took("reset", mark), 2);
      EXPECT_EQ(Took("stop", mark), 0);
    }
    EXPECT_EQ(console->Get("ProgramText"), "UNKNOWN");
    card->Operator("silent off");
    EXPECT_TRUE(console->WaitFor("ProgramText", "text", kProgram, 10s));
    ASSERT_NO_FATAL_FAILURE(ChooseCom1Again());
  }
}

TEST_F(FaultMatrix, ALogOnAFullDiskAndAProgramFileRemovedEachEndWithOneBoxSayingWhy) {
  ASSERT_NO_FATAL_FAILURE(Start({}));
  console->Do("tab 2");
  console->Do("answer-file /dev/full");
  console->Do("click LoggingButton");
  card->Operator("say something to log");
  ASSERT_NO_FATAL_FAILURE(ExpectAftermath(Holding("No space left on device"), {"/dev/full"}));
  EXPECT_EQ(console->Get("LoggingButton"), "Activate Logging");
  EXPECT_EQ(console->Get("ProgramText"), kProgram);
  console->Do("tab 0");
  ASSERT_NO_FATAL_FAILURE(ChooseCom1Again());

  const std::string program = MakeProgram(ws, 4000);
  ASSERT_NO_FATAL_FAILURE(BeginDownload(program));
  // Chosen and checked; the console opens it at "Boot Loader Stopped", 300 ms after the reset.
  ASSERT_TRUE(CardTook({"reset"}, 5s));
  std::filesystem::remove(program);
  ASSERT_NO_FATAL_FAILURE(ExpectAftermath(Holding("No such file"), {program}));
  EXPECT_TRUE(CardTook({"reset", "stop"}, 1s)) << "the handshake did not run";
  // The download's reset brings the card back through its boot loader.
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", kProgram, 15s));
  ASSERT_NO_FATAL_FAILURE(ChooseCom1Again());
}

TEST_F(FaultMatrix, NoiseLeavesTheConsoleAnsweringInBoundedMemoryAndPollingAfterwards) {
  ASSERT_NO_FATAL_FAILURE(Start({}));
  long rss_max = 0;
  console->Do("lateness start");
  card->Operator("noise 5");
  for (int i = 0; i < 10; ++i, std::this_thread::sleep_for(500ms)) {
    ASSERT_EQ(console->Ask("get ProgramText text", 5s).rfind("ok", 0), 0u) << "no answer";
    rss_max = std::max(rss_max, RssKb(console->pid()));
  }
  std::printf("fault matrix: noise: RSS %ld kB at most; worst event loop lateness %s us\n", rss_max,
              console->Do("lateness read").c_str());
  // The address sanitizer's quarantine holds up to a quarter of a gigabyte of freed memory.
  EXPECT_LT(rss_max, kAsan ? 1024L * 1024 : 200L * 1024) << "memory grew without bound";
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", kProgram, 15s));
  mark = card->Trace().size();
  EXPECT_TRUE(CardTook({"rdm ff28 4", "rdm ff12 8", "rdm ff28 4"}, 6s)) << "polling stopped";
  ASSERT_NO_FATAL_FAILURE(ExpectAftermath(nullptr, {}));
  ASSERT_NO_FATAL_FAILURE(ChooseCom1Again());
}

TEST_F(FaultMatrix, AFloodDuringADownloadStillLetsTheFileArriveByteForByteAndAbortWorks) {
  const std::string received = ws.Path("received.hex");
  ASSERT_NO_FATAL_FAILURE(Start({"--baud", "57600", "--program-out", received}));
  const std::string program = MakeProgram(ws, 12000);  // about 6 s at 57600 baud
  ASSERT_NO_FATAL_FAILURE(BeginDownload(program));
  EXPECT_EQ(console->Get("DownloadStatus"), "Rebooting Radio Card ...");
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Sending prog.hex ...", 10s));
  const double cpu = CpuSeconds(console->pid());
  card->Operator("flood 5000000");
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Flashing prog.hex ...", 60s));
  std::printf("fault matrix: flood during a download: %.2f s of console CPU until flashing\n",
              CpuSeconds(console->pid()) - cpu);
  // Eight seconds of flashing, then the window is back and the card restarts with its new
  // program (its banner follows at once: the UNKNOWN view may last only milliseconds).
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "visible", "0", 20s));
  EXPECT_EQ(console->Get("OpConfig", "visible"), "1");
  ASSERT_NO_FATAL_FAILURE(ExpectAftermath(nullptr, {program}));
  EXPECT_TRUE(Slurp(received) == Slurp(program)) << "the card did not get the file exactly";
  EXPECT_TRUE(CardTook(
      {"[program file ends: Program received: 751 records, 12000 data bytes, checksums OK]"}, 1s));
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", kProgram, 20s));
  ASSERT_NO_FATAL_FAILURE(ChooseCom1Again());

  // Aborted while sending: the rest of the queued file drains, the card resets and is found
  // again by polling.
  ASSERT_NO_FATAL_FAILURE(BeginDownload(program));
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Sending prog.hex ...", 10s));
  ASSERT_TRUE(CardTook({"[program file begins]"}, 5s));
  console->Do("click DownloadButton");
  EXPECT_EQ(console->Get("ProgramText"), "UNKNOWN");
  ASSERT_NO_FATAL_FAILURE(ExpectAftermath(nullptr, {program}));
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", kProgram, 30s));
  EXPECT_LT(Slurp(received).size(), Slurp(program).size());
}

}  // namespace
}  // namespace velmora::e2e
