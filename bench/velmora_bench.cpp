// Measures the console as an engineer would feel it and prints one table of figures: what a
// flood of card text costs, how late the event loop gets under it, what an idle card costs,
// how soon a reply shows, how close a download comes to the line speed, how long start-up takes,
// how soon a program file is checked before a download, and what a terminal server between
// console and card changes.
// The console runs as its own process, offscreen, driven through its automation driver; the
// card is either this program on a pseudo-terminal's master side or the simulated card.
// Nothing here asserts a time: every goal is printed next to its figure.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "drive/drive.h"
#include "intel_hex/intel_hex.h"
#include "trends/trends.h"

namespace {

namespace fs = std::filesystem;
namespace drive = velmora::drive;
using drive::CpuTimes;
using drive::ProcessCpu;
using drive::Slurp;
using drive::StatusKb;
using namespace std::chrono_literals;

// ---------------------------------------------------------------------------------------------
// Small helpers

std::int64_t MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void Sleep(std::chrono::microseconds d) {
  std::this_thread::sleep_for(d);
}

std::uintmax_t FileSize(const fs::path& path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? 0 : size;
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// Progress goes to standard error, so that standard output holds only the table.
template <typename... Args>
void Say(const char* format, Args... args) {
  std::fprintf(stderr, "bench: ");
  std::fprintf(stderr, format, args...);
  std::fprintf(stderr, "\n");
}

[[noreturn]] void Fail(const std::string& why) {
  throw std::runtime_error(why);
}

std::string Env(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

// ---------------------------------------------------------------------------------------------
// What /proc says about a process

// Time on a CPU in nanoseconds, all threads (the first field of each task's schedstat).
std::int64_t RuntimeNs(pid_t pid) {
  std::int64_t total = 0;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "schedstat");
    long long ns = 0;
    if (in >> ns) total += ns;
  }
  return total;
}

// Times the process's threads went to sleep and were woken: each voluntary context switch is
// one wait for a timer, a descriptor or a lock that ended.
long long Wakeups(pid_t pid) {
  long long total = 0;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "status");
    for (std::string line; std::getline(in, line);)
      if (line.starts_with("voluntary_ctxt_switches:")) total += std::stoll(line.substr(24));
  }
  return total;
}

// Children end with the benchmark, however it ends.
void OnSignal(int sig) {
  drive::Child::KillAll();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// ---------------------------------------------------------------------------------------------
// A pseudo-terminal whose master side this program holds: it plays the card.

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
      Fail("cannot open a pseudo-terminal");
    slave_ = ::ptsname(master_);
  }
  ~Pty() {
    if (master_ >= 0) ::close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& SlavePath() const { return slave_; }

  // Reads and forgets what the console sent (its polls), so that its writes never back up.
  void Drain() {
    char buffer[65536];
    while (::read(master_, buffer, sizeof buffer) > 0) {
    }
  }

  // Writes all of data, as fast as the other side takes it; false on a time-out.
  bool WriteAll(std::string_view data, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!data.empty()) {
      const ssize_t n = ::write(master_, data.data(), std::min<std::size_t>(data.size(), 65536));
      if (n > 0) {
        data.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      Drain();
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd p{master_, POLLOUT | POLLIN, 0};
      ::poll(&p, 1, 10);
    }
    return true;
  }

  // Writes data one line at a time, one write each, as a card's firmware puts out its lines.
  bool WriteLines(std::string_view data, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!data.empty()) {
      const std::size_t end = std::min(data.find('\n'), data.size() - 1) + 1;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !WriteAll(data.substr(0, end), left)) return false;
      data.remove_prefix(end);
    }
    return true;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// ---------------------------------------------------------------------------------------------
// The console and the simulated card, their standard error kept in the work folder.

struct Paths {
  std::string console;
  std::string cardsim;
  fs::path work;
};

int OpenLog(const fs::path& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

class Console : public drive::Console {
 public:
  Console(const Paths& paths, const std::string& ports, const std::string& tag,
          const drive::Place& place = {})
      : Console(paths, ports, OpenLog(paths.work / ("console-" + tag + ".err")), place) {}

 private:
  Console(const Paths& paths, const std::string& ports, int log, const drive::Place& place)
      : drive::Console(paths.console, ports, log, {}, place.wrapper) {
    ::close(log);
  }
};

// The simulated card on its own pseudo-terminal, linked at work/NAME.
class Card : public drive::Card {
 public:
  Card(const Paths& paths, const std::string& name, std::vector<std::string> options)
      : Card(paths, name, std::move(options), OpenLog(paths.work / (name + ".err"))) {}

 private:
  Card(const Paths& paths, const std::string& name, std::vector<std::string> options, int log)
      : drive::Card(paths.cardsim, paths.work / name, WithQuietLog(std::move(options)),
                    {.output = log, .errors = log}) {
    ::close(log);
  }
  static std::vector<std::string> WithQuietLog(std::vector<std::string> options) {
    options.insert(options.begin(), "--quiet-log");
    return options;
  }
};

// COM1 chosen and `program` shown. Where the benchmark plays the card itself, it repeats the
// CPE's banner meanwhile: bytes that reach the line while the console is still setting it up may
// go with the line's old settings.
void ChooseCom1(Console& console, const std::string& program, Pty* banner = nullptr) {
  console.Do("choose CommPortSelect 1");
  for (int i = 0; i < 20; ++i) {
    if (banner) banner->WriteAll("CPE Application Initialized\r\n", 5s);
    if (console.WaitFor("ProgramText", "text", program, 500ms)) return;
  }
  Fail("no " + program);
}

// ---------------------------------------------------------------------------------------------
// The table

struct Row {
  std::string what, figure, goal, met;
};
std::vector<Row> g_rows;

void Report(const std::string& what, const std::string& figure, const std::string& goal = "—",
            std::optional<bool> met = std::nullopt) {
  g_rows.push_back({what, figure, goal, met ? (*met ? "yes" : "**NO**") : "—"});
  Say("%s: %s", what.c_str(), figure.c_str());
}

void PrintTable() {
  std::printf("| what | figure | goal | met? |\n|---|---|---|---|\n");
  for (const Row& r : g_rows)
    std::printf("| %s | %s | %s | %s |\n", r.what.c_str(), r.figure.c_str(), r.goal.c_str(),
                r.met.c_str());
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------------
// The machine

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("model name", 0) == 0) {
      const auto colon = line.find(':');
      if (colon != std::string::npos) return line.substr(colon + 2);
    }
  }
  return "unknown CPU";
}

void Machine() {
  utsname u{};
  ::uname(&u);
  const double memory = static_cast<double>(sysconf(_SC_PHYS_PAGES)) *
                        static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024 * 1024);
  Report("machine", Format("%ld × %s, %.1f GiB, %s %s, Qt %s", sysconf(_SC_NPROCESSORS_ONLN),
                           CpuModel().c_str(), memory, u.sysname, u.release, VELMORA_QT_VERSION));
  const std::time_t now = std::time(nullptr);
  char date[64];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  Report("run", std::string(date) + ", " + VELMORA_BUILD_TYPE + " build");
}

// ---------------------------------------------------------------------------------------------
// Flood: ten megabytes of card text, the Terminal tab shown and logging on.

// Debug lines as the card's flood sends them, exactly size bytes, the last one cut to fit.
std::string FloodText(std::size_t size) {
  std::mt19937 random(9);
  std::string text;
  text.reserve(size + 128);
  for (unsigned long long n = 0; text.size() < size; ++n) {
    char line[128];
    const int length = std::snprintf(
        line, sizeof line, "dbg: flood %08llu tdma slot %d agc %02d afc %+03d ber 0.0e+00 ok\r\n",
        n, static_cast<int>(random() % 4), static_cast<int>(20 + random() % 41),
        static_cast<int>(random() % 41) - 20);
    text.append(line, static_cast<std::size_t>(length));
  }
  text.resize(size);
  if (size >= 2) text.replace(size - 2, 2, "\r\n");
  return text;
}

// Waits until the file holds size bytes; false if it stops growing for the given time.
bool WaitForFileSize(const fs::path& path, std::uintmax_t size, std::chrono::milliseconds stall) {
  std::uintmax_t last = 0;
  auto lastGrowth = std::chrono::steady_clock::now();
  for (;;) {
    const auto now = FileSize(path);
    if (now >= size) return true;
    if (now != last) {
      last = now;
      lastGrowth = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - lastGrowth > stall) {
      return false;
    }
    Sleep(2ms);
  }
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string Range(const std::vector<double>& values, const char* format) {
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  return Format(format, *low) + " to " + Format(format, *high);
}

void Flood(const Paths& paths) {
  const std::size_t size = std::stoul(Env("BENCH_FLOOD_BYTES", "10000000"));
  // Three rounds each: what another program on the machine costs the figures shows in the
  // spread, and the median is what is reported.
  const int rounds = std::max(1, std::stoi(Env("BENCH_FLOOD_ROUNDS", "3")));
  const double per10Mb = 10'000'000.0 / static_cast<double>(size);
  const std::string flood = FloodText(size);
  // As the simulated card floods: as much as the pty takes at a time. "lines" writes each
  // line by itself, which makes a reader that keeps up wake once a line.
  const bool byLines = Env("BENCH_FLOOD_WRITES", "blocks") == "lines";
  Say("flood: %d × %zu bytes into the console (Terminal tab, logging on)", rounds, size);

  std::vector<double> consoleCpu, consoleWall, lateMs;
  long peakKb = 0;
  bool logExact = false;
  {
    Pty pty;
    const fs::path log = paths.work / "flood-log.txt";
    Console console(paths, "COM1=" + pty.SlavePath(), "flood");
    ChooseCom1(console, "CPE APP", &pty);
    console.Do("tab 2");
    console.Do("answer-file " + log.string());
    console.Do("click LoggingButton");
    if (!console.WaitFor("LoggingButton", "text", "Stop Logging", 5s)) Fail("logging not on");
    Sleep(300ms);  // the first poll round after detection

    for (int round = 1; round <= rounds; ++round) {
      pty.Drain();
      console.Do("lateness start");
      const CpuTimes before = ProcessCpu(console.pid());
      const auto started = MonotonicNs();
      if (!(byLines ? pty.WriteLines(flood, 300s) : pty.WriteAll(flood, 300s)))
        Fail("the console stopped reading the flood");
      // Absorbed: the log holds every byte so far.
      if (!WaitForFileSize(log, size * static_cast<std::size_t>(round), 20s))
        Fail(Format("the log stopped at %ju of %zu bytes", FileSize(log), size * round));
      const auto ended = MonotonicNs();
      const CpuTimes after = ProcessCpu(console.pid());
      lateMs.push_back(std::atol(console.Do("lateness read").c_str()) / 1000.0);
      consoleCpu.push_back((after.Total() - before.Total()) * per10Mb);
      consoleWall.push_back(static_cast<double>(ended - started) / 1e9);
      Sleep(200ms);
    }
    peakKb = StatusKb(console.pid(), "VmHWM");
    pty.Drain();
    console.Do("click LoggingButton");
    const std::string logged = Slurp(log);
    logExact = logged.size() == size * static_cast<std::size_t>(rounds);
    for (int round = 0; logExact && round < rounds; ++round)
      logExact = logged.compare(size * static_cast<std::size_t>(round), size, flood) == 0;
  }

  // The floor: cat reads the same flood from a pseudo-terminal in raw mode and writes it to a
  // file, the least any program can do to absorb and log it. Its CPU time comes from the
  // scheduler's nanosecond count: /proc/PID/stat's clock ticks are too coarse for it.
  std::vector<double> catCpu;
  {
    Pty pty;
    const int slave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slave < 0 || ::tcgetattr(slave, &raw) != 0) Fail("cannot open " + pty.SlavePath());
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    const fs::path copy = paths.work / "flood-cat.txt";
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    drive::Child cat({"cat"}, {}, {.input = slave, .output = out});
    ::close(slave);
    ::close(out);
    Sleep(100ms);
    for (int round = 1; round <= rounds; ++round) {
      const std::int64_t before = RuntimeNs(cat.pid());
      if (!(byLines ? pty.WriteLines(flood, 120s) : pty.WriteAll(flood, 120s)))
        Fail("cat stopped reading the flood");
      if (!WaitForFileSize(copy, size * static_cast<std::size_t>(round), 10s))
        Fail("cat did not get the whole flood");
      catCpu.push_back(static_cast<double>(RuntimeNs(cat.pid()) - before) / 1e9 * per10Mb);
      Sleep(200ms);
    }
    cat.Stop();
  }

  const double mb = static_cast<double>(size) / 1e6;
  const std::string of = Format("median of %d", rounds);
  Report("flood: console CPU to absorb 10 MB (Terminal tab shown, logging on), " + of,
         Format("%.2f s (%s)", Median(consoleCpu), Range(consoleCpu, "%.2f").c_str()), "≤ 1.0 s",
         Median(consoleCpu) <= 1.0);
  Report("flood: console peak RSS (VmHWM)", Format("%.1f MiB", peakKb / 1024.0), "< 64 MiB",
         peakKb < 64 * 1024);
  Report("flood: console wall time, " + of,
         Format("%.2f s (%.0f MB/s)", Median(consoleWall), mb / Median(consoleWall)));
  Report("flood: log file holds exactly the floods", logExact ? "yes" : "no", "yes", logExact);
  Report("flood: floor, `cat` from a raw pty to a file: CPU per 10 MB, " + of,
         Format("%.3f s (%s)", Median(catCpu), Range(catCpu, "%.3f").c_str()));
  const double ratio = Median(consoleCpu) / Median(catCpu);
  Report("flood: console CPU / cat CPU", Format("%.1f×", ratio), "≤ 2.0×", ratio <= 2.0);
  Report("responsiveness: worst lateness of a 10 ms timer during the floods",
         Format("%.1f ms (each: %s)", *std::max_element(lateMs.begin(), lateMs.end()),
                Range(lateMs, "%.1f").c_str()),
         "< 50 ms", *std::max_element(lateMs.begin(), lateMs.end()) < 50);
}

// ---------------------------------------------------------------------------------------------
// Idle: the console polling a quiet simulated card.

void IdleShare(Console& console, Card& card, int seconds, const char* what, bool trendsShown,
               double goal);

void Idle(const Paths& paths) {
  const int seconds = std::stoi(Env("BENCH_IDLE_SECONDS", "60"));
  Say("idle: %d s of polling an idle line card", seconds);
  Card card(paths, "idle-card", {"--start", "linecard", "--quiet", "--steady"});
  Console console(paths, "COM1=" + card.Link(), "idle");
  ChooseCom1(console, "LINE CARD APP");
  Sleep(3s);  // the initial reads after detection
  IdleShare(console, card, seconds, "idle: console CPU polling an idle card for %d s", false, 0.08);
  // The same with the charts in front, following the samples live.
  console.Do("tab 3");
  Sleep(1s);
  IdleShare(console, card, seconds, "idle: console CPU with the Trends tab shown, %d s", true, 0.20);
}

void IdleShare(Console& console, Card& card, int seconds, const char* what, bool trendsShown,
               double goal) {
  const CpuTimes before = ProcessCpu(console.pid());
  const auto cardBefore = ProcessCpu(card.pid());
  const long long wakeupsBefore = Wakeups(console.pid());
  const auto started = MonotonicNs();
  // The same time in windows of 10 s, by the scheduler's nanosecond count: how much the
  // figure moves while the console does the same thing shows how steady the machine was.
  double lowest = 1e9, highest = 0;
  for (int left = seconds; left > 0; left -= 10) {
    const int window = std::min(left, 10);
    const std::int64_t runtime = RuntimeNs(console.pid());
    const std::int64_t from = MonotonicNs();
    Sleep(std::chrono::seconds(window));
    const double share = 100.0 * static_cast<double>(RuntimeNs(console.pid()) - runtime) /
                         static_cast<double>(MonotonicNs() - from);
    lowest = std::min(lowest, share);
    highest = std::max(highest, share);
  }
  const double wall = static_cast<double>(MonotonicNs() - started) / 1e9;
  const double cpu = ProcessCpu(console.pid()).Total() - before.Total();
  const double cardCpu = ProcessCpu(card.pid()).Total() - cardBefore.Total();
  const double wakeups = static_cast<double>(Wakeups(console.pid()) - wakeupsBefore) / wall;
  if (console.Do("get ProgramText text") != "LINE CARD APP") Fail("the card was lost while idle");
  const double share = 100 * cpu / wall;
  const std::string figure =
      Format("%.2f%% (%.2f s; 10 s windows %.2f%% to %.2f%%; the simulated card: %.2f%%)", share,
             cpu, lowest, highest, 100 * cardCpu / wall);
  Report(Format(what, seconds), figure, Format("<= %.2f%%", goal), share <= goal);
  // The poll timer's ten ticks a second are the floor; the card's replies add a few.
  Report(Format("%s: wake-ups per second", trendsShown ? "idle with the Trends tab shown" : "idle"),
         Format("%.1f", wakeups));
}

// ---------------------------------------------------------------------------------------------
// Trends: what 24 hours of the console's polling cost in memory, recorded into the console's
// own recorder on a simulated clock (a day of real polling would take a day).

class DayClock : public velmora::Clock {
 public:
  std::int64_t now = 0;
  std::int64_t MonotonicMs() const override { return now; }
  std::int64_t WallMs() const override { return 1'796'601'600'000 + now; }
};

void TrendsMemory(const Paths&) {
  using velmora::Quantity;
  velmora::Trends trends;
  DayClock clock;
  trends.SetClock(clock);
  const auto line = [&](std::initializer_list<std::pair<int, Quantity>> values, int value) {
    for (const auto& [cpe, q] : values) trends.Record(2, cpe, q, value);
    trends.CommitLine();
  };
  const auto started = MonotonicNs();
  // One poll step a second in a ten-step round: the four CPEs' signal strength on the even
  // steps, the temperature on steps 3 and 7; an SFD loss report a minute, a lost link of one
  // CPE every ten minutes (its record reset) and its return.
  for (std::int64_t second = 0; second < 24 * 3600; ++second) {
    clock.now = second * 1000;
    const int step = static_cast<int>(second % 10) + 1;
    if (step % 2 == 0)
      line({{0, Quantity::Signal},
            {1, Quantity::Signal},
            {2, Quantity::Signal},
            {3, Quantity::Signal}},
           20);
    if (step == 3 || step == 7) line({{velmora::kNoCpe, Quantity::Temperature}}, 31);
    if (second % 60 == 30) line({{static_cast<int>(second / 60 % 4), Quantity::SfdLoss}}, 3);
    const int cpe = static_cast<int>(second / 600 % 4);
    if (second % 600 == 100)
      line({{cpe, Quantity::Link},
            {cpe, Quantity::State},
            {cpe, Quantity::Signal},
            {cpe, Quantity::Line1Hook},
            {cpe, Quantity::Line1Ring},
            {cpe, Quantity::Line2Hook},
            {cpe, Quantity::Line2Ring}},
           0);
    if (second % 600 == 110 || second % 600 == 112) line({{cpe, Quantity::State}}, 1);
  }
  const double fillMs = static_cast<double>(MonotonicNs() - started) / 1e6;
  std::size_t samples = 0;
  for (int c = velmora::kNoCpe; c < 4; ++c)
    for (int q = 0; q < velmora::kQuantities; ++q)
      samples += trends.Series(c, static_cast<Quantity>(q)).size();
  const auto exportStart = MonotonicNs();
  const std::size_t csv = velmora::TrendsCsv(trends).size();
  const double exportMs = static_cast<double>(MonotonicNs() - exportStart) / 1e6;
  Report("trends: memory for 24 h of samples (simulated polling of 4 CPEs)",
         Format("%.1f MB for %zu samples (%zu bytes each; recorded in %.0f ms; CSV %.1f MB in "
                "%.0f ms)",
                static_cast<double>(trends.Bytes()) / 1e6, samples, sizeof(velmora::Sample), fillMs,
                static_cast<double>(csv) / 1e6, exportMs));
}

// ---------------------------------------------------------------------------------------------
// Replug: the card's line pulled and put back, and the console reopening it by itself, timed
// from the new line's link to the console holding the new pseudo-terminal open.

bool Holds(pid_t pid, const std::string& device) {
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
    if (fs::read_symlink(fd.path(), ec) == device) return true;
  return false;
}

void Replug(const Paths& paths) {
  const int runs = 10;
  Say("replug: %d times", runs);
  Card card(paths, "replug-card", {"--start", "linecard", "--quiet", "--steady"});
  Console console(paths, "COM1=" + card.Link(), "replug");
  ChooseCom1(console, "LINE CARD APP");
  std::vector<double> ms, fromCommand;
  for (int i = 0; i < runs; ++i) {
    std::error_code ec;
    card.Operator("unplug");
    if (!console.WaitFor("CommPortSelect", "index", "0", 10s)) Fail("the loss went unnoticed");
    console.Ask("close-box");
    Sleep(200ms);
    const std::int64_t asked = MonotonicNs();
    card.Operator("replug");
    fs::path now;
    while ((now = fs::canonical(card.Link(), ec)).empty() && MonotonicNs() - asked < 5'000'000'000)
      Sleep(100us);
    const std::int64_t linked = MonotonicNs();
    while (!Holds(console.pid(), now.string()) && MonotonicNs() - linked < 10'000'000'000)
      Sleep(200us);
    if (!Holds(console.pid(), now.string())) Fail("the console did not reopen the line");
    ms.push_back(static_cast<double>(MonotonicNs() - linked) / 1e6);
    fromCommand.push_back(static_cast<double>(MonotonicNs() - asked) / 1e6);
    if (!console.WaitFor("ProgramText", "text", "LINE CARD APP", 10s)) Fail("not recognised again");
  }
  std::sort(ms.begin(), ms.end());
  std::sort(fromCommand.begin(), fromCommand.end());
  Report(
      Format("replug: the card's line back to the port reopened, median of %d", runs),
      Format("%.1f ms (worst %.1f ms; from the card's replug command: %.1f ms, worst %.1f ms)",
             ms[ms.size() / 2], ms.back(), fromCommand[fromCommand.size() / 2], fromCommand.back()),
      "< 1500 ms", ms.back() < 1500);
}

// ---------------------------------------------------------------------------------------------
// Latency: from the last byte of a reply on the line to its field set.

void Latency(const Paths& paths) {
  const int replies = std::stoi(Env("BENCH_REPLIES", "1000"));
  Say("latency: %d temperature replies", replies);
  Pty pty;
  Console console(paths, "COM1=" + pty.SlavePath(), "latency");
  ChooseCom1(console, "CPE APP", &pty);
  console.Do("watch TemperatureText");
  Sleep(300ms);

  // The field shows a temperature in decimal with a leading blank.
  const auto shows = [&](int value) {
    return console.Do("get TemperatureText text") == Format(" %d", value);
  };
  // One reply first: does the driver note the field's changes? If it does not, the time of
  // the first answer that shows the new text stands in, an upper bound by one round trip of
  // the driver.
  pty.WriteAll(Format("temperature: %04X\r\n", 200), 5s);
  bool shown = false;
  for (int i = 0; i < 200 && !(shown = shows(200)); ++i) Sleep(10ms);
  if (!shown) Fail("the temperature reply did not reach TemperatureText");
  std::int64_t last = std::atoll(console.Do("changed TemperatureText").c_str());
  const bool watched = last != 0;
  if (!watched) Say("latency: the driver's \"changed\" stays 0; measuring by \"get\" instead");

  std::mt19937 random(7);
  std::vector<double> latencies;
  int lost = 0;
  for (int i = 0; i < replies; ++i) {
    pty.Drain();
    // Consecutive values differ, so that every reply changes the field.
    const int value = 1 + i % 100;
    if (!pty.WriteAll(Format("temperature: %04X\r\n", value), 5s))
      Fail("the console stopped reading");
    const std::int64_t written = MonotonicNs();
    std::int64_t changed = 0;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!changed && std::chrono::steady_clock::now() < deadline) {
      if (watched) {
        const std::int64_t at = std::atoll(console.Do("changed TemperatureText").c_str());
        if (at != last)
          changed = at;
        else
          Sleep(200us);
      } else if (shows(value)) {
        changed = MonotonicNs();
      }
    }
    if (!changed) {
      ++lost;
      continue;
    }
    latencies.push_back(static_cast<double>(changed - written) / 1e6);
    last = changed;
    // Replies come at uneven times, some of them meeting a poll tick.
    Sleep(std::chrono::microseconds(random() % 3000));
  }
  if (latencies.empty()) Fail("no reply reached its field");
  std::sort(latencies.begin(), latencies.end());
  const double median = latencies[latencies.size() / 2];
  const double worst = latencies.back();
  const std::string how =
      watched ? "" : " [by polling \"get\": the driver's \"watch\" noted nothing]";
  const std::string lostText = lost ? Format(", %d never shown", lost) : std::string{};
  Report(Format("latency: reply's last byte to its field set, median of %zu", latencies.size()),
         Format("%.2f ms%s%s", median, lostText.c_str(), how.c_str()), "≤ 0.05 ms",
         !lost && median <= 0.05);
  Report(Format("latency: worst of %zu", latencies.size()),
         Format("%.2f ms (99th percentile %.2f ms)%s", worst,
                latencies[latencies.size() * 99 / 100], how.c_str()),
         "≤ 0.5 ms", !lost && worst <= 0.5);
}

// ---------------------------------------------------------------------------------------------
// Download: a program file at 57600 baud to the simulated card.

double TraceTime(const fs::path& trace, const std::string& text) {
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);)
    if (line.find(text) != std::string::npos) return std::stod(line);
  return -1;
}

std::string TraceLine(const fs::path& trace, const std::string& text) {
  std::ifstream in(trace);
  for (std::string line; std::getline(in, line);)
    if (line.find(text) != std::string::npos) return line;
  return {};
}

// Reads from fd until what was read holds text; false on a time-out.
bool ReadUntil(int fd, const std::string& text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string got;
  while (got.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) got.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

// The same simulated card, fed by a sender that queues the whole file at once and does
// nothing else: the most that the simulated line itself lets through.
double QueuedAtOnce(const Paths& paths, const std::string& bytes) {
  const fs::path trace = paths.work / "queued-trace.txt";
  Card card(paths, "queued-card",
            {"--start", "boot", "--quiet", "--baud", "57600", "--trace", trace.string()});
  const int fd = ::open(card.Link().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios raw{};
  if (fd < 0 || ::tcgetattr(fd, &raw) != 0) Fail("cannot open " + card.Link());
  ::cfmakeraw(&raw);
  ::tcsetattr(fd, TCSANOW, &raw);
  const auto send = [fd](std::string_view data) {
    while (!data.empty()) {
      const ssize_t n = ::write(fd, data.data(), data.size());
      if (n > 0) {
        data.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      char sink[4096];
      while (::read(fd, sink, sizeof sink) > 0) {
      }
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 10);
    }
  };
  send("reset\r\n");
  const bool ready = ReadUntil(fd, "Boot Loader Ready", 5s);
  if (ready) send("stop\r\n");
  const bool stopped = ready && ReadUntil(fd, "Boot Loader Stopped", 5s);
  if (stopped) send(bytes);
  for (int i = 0; stopped && i < 200 && TraceTime(trace, "[program file ends") < 0; ++i)
    Sleep(50ms);
  ::close(fd);
  const double begins = TraceTime(trace, "[program file begins]");
  const double ends = TraceTime(trace, "[program file ends");
  if (!stopped || begins < 0 || ends <= begins) Fail("the queued file did not reach the card");
  return static_cast<double>(bytes.size()) / ((ends - begins) * 5760.0);
}

// ---------------------------------------------------------------------------------------------
// A terminal server: ser2net in the foreground puts a card's line on a Telnet port with the COM
// port option (RFC 2217) on 127.0.0.1.

// ser2net with its output in the work folder.
void StartSer2net(std::optional<drive::Ser2net>& server, const Paths& paths,
                  const std::string& device, const std::string& tag, drive::Place place = {}) {
  const int log = OpenLog(paths.work / ("ser2net-" + tag + ".err"));
  // Away from this machine's loopback, a client that comes back takes the line from the one
  // that fell silent.
  const bool kick = !place.wrapper.empty();
  server.emplace(paths.work / ("ser2net-" + tag + ".yaml"), device, "rfc2217", drive::FreeTcpPort(),
                 drive::Io{.output = log, .errors = log}, std::move(place), kick);
  ::close(log);
}

// ---------------------------------------------------------------------------------------------
// Silence: the network between the console and ser2net falls silent while the console polls
// (each in a network namespace of its own, the server's end of the veth pair between them
// pulled down), timed from the link down to the lost-port box, and from the link back up to
// the card recognised again.

void Silence(const Paths& paths) {
  const int runs = 3;
  Say("silence: %d times", runs);
  drive::LinkedNamespaces link;
  Card card(paths, "silence-card", {"--start", "linecard", "--quiet", "--steady"});
  std::optional<drive::Ser2net> server;
  StartSer2net(server, paths, card.Link(), "silence", link.Server());
  Console console(paths, "COM1=" + server->Address(), "silence", link.Client());
  ChooseCom1(console, "LINE CARD APP");
  std::vector<double> lost, back;
  std::string box;
  for (int i = 0; i < runs; ++i) {
    // A different moment of the poll cycle's second each time.
    Sleep(std::chrono::milliseconds(1000 + 330 * i));
    link.ServerLink(false);
    const std::int64_t down = MonotonicNs();
    const auto boxes = console.WaitForBoxes(static_cast<std::size_t>(i) + 1, 60s);
    if (boxes.size() <= static_cast<std::size_t>(i)) Fail("the silence went unnoticed for 60 s");
    lost.push_back(static_cast<double>(MonotonicNs() - down) / 1e9);
    box = boxes.back();
    console.Ask("close-box");
    link.ServerLink(true);
    const std::int64_t up = MonotonicNs();
    if (!console.WaitFor("ProgramText", "text", "LINE CARD APP", 30s)) Fail("no reconnection");
    back.push_back(static_cast<double>(MonotonicNs() - up) / 1e9);
  }
  Say("silence: the box said \"%s\"", box.c_str());
  std::sort(lost.begin(), lost.end());
  std::sort(back.begin(), back.end());
  Report(Format("silence: the network to ser2net silent mid-poll to the lost-port box, median "
                "of %d",
                runs),
         Format("%.1f s (worst %.1f s; the link back to the card recognised: %.1f s, worst %.1f "
                "s)",
                lost[runs / 2], lost.back(), back[runs / 2], back.back()),
         "< 10 s", lost.back() < 10);
}

// ---------------------------------------------------------------------------------------------
// The download: a real Intel HEX file to the simulated card at 57600 baud, on a local line and
// through ser2net.

struct DownloadRun {
  double efficiency = 0;
  double seconds = 0;
  bool exact = false;
  std::uintmax_t behind = 0;  // file bytes not yet at the card when the flashing began
};

DownloadRun TimedDownload(const Paths& paths, const fs::path& hex, const std::string& bytes,
                          bool network) {
  const std::string tag = network ? "download-net" : "download";
  const fs::path received = paths.work / (tag + "-received.hex");
  const fs::path trace = paths.work / (tag + "-trace.txt");
  Card card(paths, tag + "-card",
            {"--start", "linecard", "--quiet", "--baud", "57600", "--program-out",
             received.string(), "--trace", trace.string()});
  std::optional<drive::Ser2net> server;
  if (network) StartSer2net(server, paths, card.Link(), tag);
  Console console(paths, "COM1=" + (network ? server->Address() : card.Link()), tag);
  ChooseCom1(console, "LINE CARD APP");
  console.Do("answer-file " + hex.string());
  console.Do("click DownloadButton");
  if (!console.WaitFor("DownloadStatus", "text", "Flashing prog.hex ...", 90s))
    Fail("the download did not reach flashing: " + console.Ask("get DownloadStatus text"));
  DownloadRun run;
  run.behind = bytes.size() - std::min<std::uintmax_t>(bytes.size(), FileSize(received));
  for (int i = 0; i < 100 && TraceTime(trace, "[program file ends") < 0; ++i) Sleep(50ms);
  const double begins = TraceTime(trace, "[program file begins]");
  const double ends = TraceTime(trace, "[program file ends");
  if (begins < 0 || ends <= begins) Fail("the card's trace has no whole download");
  // The card may note the end before its copy of the file is all on disk.
  for (int i = 0; i < 100 && FileSize(received) < bytes.size(); ++i) Sleep(50ms);
  const bool judgedOk = TraceLine(trace, "[program file ends").find("OK") != std::string::npos;
  run.exact = Slurp(received) == bytes && judgedOk;
  run.seconds = ends - begins;
  run.efficiency = static_cast<double>(bytes.size()) / (run.seconds * 5760.0);
  return run;
}

void Download(const Paths& paths) {
  // An Intel HEX file made from the start of a real binary: about 110 KB of text.
  const fs::path bin = paths.work / "prog.bin";
  const fs::path hex = paths.work / "prog.hex";
  {
    std::ifstream in(paths.cardsim, std::ios::binary);
    std::string head(40000, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(bin, std::ios::binary).write(head.data(), in.gcount());
  }
  const std::string command = "objcopy -I binary -O ihex " + bin.string() + " " + hex.string();
  if (std::system(command.c_str()) != 0) Fail("objcopy failed");
  const std::string bytes = Slurp(hex);
  Say("download: %zu bytes of Intel HEX at 57600 baud", bytes.size());

  const auto figure = [&bytes](const DownloadRun& run) {
    return Format("%.1f%% (%zu bytes in %.2f s%s)", 100 * run.efficiency, bytes.size(), run.seconds,
                  run.exact ? ", received exactly" : ", NOT received exactly");
  };
  const DownloadRun local = TimedDownload(paths, hex, bytes, false);
  Report("download: file bytes / (transfer time × 5,760 bytes/s) at 57600 baud", figure(local),
         "≥ 98%", local.efficiency >= 0.98 && local.exact);
  Say("download: the same file through ser2net, Telnet with the COM port option");
  const DownloadRun net = TimedDownload(paths, hex, bytes, true);
  Report("download through ser2net (RFC 2217 on 127.0.0.1): the same figure", figure(net), "≥ 97%",
         net.efficiency >= 0.97 && net.exact);
  Report("download through ser2net: file bytes not yet at the card when the flashing began",
         Format("%ju (local line: %ju)", net.behind, local.behind));
  // The reference, on a simulated card of its own once the console is gone.
  Say("download: the same file queued at once on the same simulated card");
  const double queued = QueuedAtOnce(paths, bytes);
  Report("download: reference, the whole file queued at once on the same simulated card",
         Format("%.1f%%", 100 * queued));
}

// ---------------------------------------------------------------------------------------------
// Choosing a port: from the choice to the connection with ser2net, and to the first command on
// the card's line, through ser2net and on a local line. The console sends its first poll at
// the next whole second of its poll cycle, so the second figure spreads over that second
// whatever the port; the choices are made at 0, 200, ... 800 ms after the window shows.

void Network(const Paths& paths) {
  const int runs = 5;
  std::vector<double> ms[2], connected;
  for (int i = 0; i < 2 * runs; ++i) {
    const bool network = i % 2 == 0;
    const fs::path trace = paths.work / Format("choose-trace-%d.txt", i);
    Card card(paths, Format("choose-card-%d", i),
              {"--start", "linecard", "--quiet", "--trace", trace.string()});
    std::optional<drive::Ser2net> server;
    if (network) StartSer2net(server, paths, card.Link(), Format("choose-%d", i));
    Console console(paths, "COM1=" + (network ? server->Address() : card.Link()), "choose");
    Sleep(std::chrono::milliseconds(200 * (i / 2)));
    const std::int64_t start = MonotonicNs();
    const auto since = [start] { return static_cast<double>(MonotonicNs() - start) / 1e6; };
    console.Do("choose CommPortSelect 1");
    for (bool made = !network; FileSize(trace) == 0 && since() < 10000; Sleep(200us)) {
      if (!made && (made = drive::SocketIn(server->port, "01"))) connected.push_back(since());
    }
    if (FileSize(trace) == 0) Fail("no command reached the card");
    ms[network ? 0 : 1].push_back(since());
  }
  for (auto* m : {&ms[0], &ms[1], &connected}) std::sort(m->begin(), m->end());
  if (connected.size() != static_cast<std::size_t>(runs)) Fail("a connection was not seen");
  Report(
      Format("choosing a network port: to the connection with ser2net, median of %d", runs),
      Format("%.1f ms (%.1f to %.1f)", connected[runs / 2], connected.front(), connected.back()));
  Report(
      Format("choosing a port: to the first poll command on the card's line, median of %d", runs),
      Format("%.0f ms through ser2net (RFC 2217), %.0f ms on a local line (the poll cycle's "
             "next whole second)",
             ms[0][runs / 2], ms[1][runs / 2]));
}

// ---------------------------------------------------------------------------------------------
// The check of a program file before a download: a 1 MB Intel HEX file of a real binary, judged
// as the console judges it once it has read the file whole.

void HexCheck(const Paths& paths) {
  const fs::path bin = paths.work / "big.bin";
  const fs::path hex = paths.work / "big.hex";
  {
    std::ifstream in(paths.console, std::ios::binary);
    std::string head(384 * 1024, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(bin, std::ios::binary).write(head.data(), in.gcount());
  }
  const std::string command = "objcopy -I binary -O ihex " + bin.string() + " " + hex.string();
  if (std::system(command.c_str()) != 0) Fail("objcopy failed");
  const int runs = 21;
  std::vector<double> ms;
  velmora::intel_hex::FileCheck check;
  const std::string text = Slurp(hex);
  for (int i = 0; i < runs; ++i) {
    const std::int64_t start = MonotonicNs();
    check = velmora::intel_hex::CheckFile(text);
    ms.push_back(static_cast<double>(MonotonicNs() - start) / 1e6);
  }
  if (!check.Ok()) Fail("the file was refused: " + velmora::intel_hex::Describe(check, "big.hex"));
  std::sort(ms.begin(), ms.end());
  Report(Format("program file check: a %.2f MB Intel HEX file, median of %d",
                static_cast<double>(FileSize(hex)) / 1e6, runs),
         Format("%.1f ms (max %.1f ms; %zu records, %zu data bytes)", ms[runs / 2], ms.back(),
                check.records, check.data_bytes),
         "< 50 ms", ms[runs / 2] < 50);
}

// ---------------------------------------------------------------------------------------------
// Start-up: from fork and exec to the driver's first answer, which comes once the window is
// shown and the event loop runs.

void Startup(const Paths& paths) {
  const int runs = 5;
  Say("start-up: %d launches", runs);
  Pty pty;
  std::vector<double> ms, fromCommand;
  for (int i = 0; i < runs; ++i) {
    const std::int64_t launched = MonotonicNs();
    Console console(paths, "COM1=" + pty.SlavePath(), "startup");
    ms.push_back(static_cast<double>(MonotonicNs() - launched) / 1e6);
  }
  std::vector<double> sorted = ms;
  std::sort(sorted.begin(), sorted.end());
  std::string each;
  for (const double m : ms) each += (each.empty() ? "" : ", ") + Format("%.0f", m);
  Report(Format("start-up: launch to window shown, median of %d", runs),
         Format("%.0f ms (each: %s)", sorted[runs / 2], each.c_str()), "<= 35 ms",
         sorted[runs / 2] <= 35);
}

// ---------------------------------------------------------------------------------------------
// The flight recorder: what recording costs on the flood, and its bytes on disk while idle.

// Console CPU per 10 MB of flood (Terminal tab shown), with the recorder on or off.
std::vector<double> FloodCpu(const Paths& paths, bool recording, std::size_t size, int rounds) {
  if (!recording) ::setenv("VELMORA_RECORDING", "off", 1);
  Pty pty;
  Console console(paths, "COM1=" + pty.SlavePath(), recording ? "rec-on" : "rec-off");
  ::unsetenv("VELMORA_RECORDING");
  ChooseCom1(console, "CPE APP", &pty);
  console.Do("tab 2");
  Sleep(300ms);
  const std::string flood = FloodText(size);
  std::vector<double> cpu;
  for (int round = 0; round < rounds; ++round) {
    pty.Drain();
    const CpuTimes before = ProcessCpu(console.pid());
    if (!pty.WriteAll(flood, 300s)) Fail("the console stopped reading the flood");
    Sleep(1s);  // the last batches and, recording, the flush after them
    cpu.push_back((ProcessCpu(console.pid()).Total() - before.Total()) * 10'000'000.0 /
                  static_cast<double>(size));
  }
  return cpu;
}

void RecorderCost(const Paths& paths) {
  const std::size_t size = std::stoul(Env("BENCH_FLOOD_BYTES", "10000000"));
  const int rounds = 3;
  Say("recorder: %d × %zu bytes with recording off, then on; then idle polling", rounds, size);
  const std::vector<double> off = FloodCpu(paths, false, size, rounds);
  const std::vector<double> on = FloodCpu(paths, true, size, rounds);
  Report("recorder: console CPU per 10 MB of flood, recording off / on, median of 3",
         Format("%.2f s / %.2f s (+%.0f%%; off %s, on %s)", Median(off), Median(on),
                100 * (Median(on) / Median(off) - 1), Range(off, "%.2f").c_str(),
                Range(on, "%.2f").c_str()));

  const int seconds = std::stoi(Env("BENCH_IDLE_SECONDS", "60"));
  const fs::path folder = paths.work / "recording-idle";
  ::setenv("VELMORA_RECORDING_DIR", folder.c_str(), 1);
  Card card(paths, "rec-idle-card", {"--start", "linecard", "--quiet", "--steady"});
  Console console(paths, "COM1=" + card.Link(), "rec-idle");
  ::setenv("VELMORA_RECORDING_DIR", (paths.work / "recording").c_str(), 1);
  ChooseCom1(console, "LINE CARD APP");
  console.Do("tab 1");
  Sleep(3s);
  const auto bytes = [&] {
    std::uintmax_t total = 0;
    for (const auto& f : fs::directory_iterator(folder)) total += fs::file_size(f.path());
    return total;
  };
  const std::uintmax_t from = bytes();
  Sleep(std::chrono::seconds(seconds));
  const double perHour = static_cast<double>(bytes() - from) * 3600.0 / seconds;
  Report(Format("recorder: bytes on disk per hour of idle polling (Status tab, %d s)", seconds),
         Format("%.1f MB (the 256 MB ring: %.0f h)", perHour / 1e6, 256.0 * (1 << 20) / perHour));
}

// ---------------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------------
// The machine's floor under the idle and latency figures: what a process that does nothing but
// wake every 100 ms costs (a poll loop, and a Qt event loop with one timer), and how long a
// process blocked on a pseudo-terminal takes to wake and read a line written to it.

double IdleFloor(const std::vector<std::string>& argv, int seconds) {
  drive::Child child(argv, {});
  Sleep(1s);
  const std::int64_t runtime = RuntimeNs(child.pid());
  const std::int64_t from = MonotonicNs();
  Sleep(std::chrono::seconds(seconds));
  return 100.0 * static_cast<double>(RuntimeNs(child.pid()) - runtime) /
         static_cast<double>(MonotonicNs() - from);
}

void Floor(const Paths&) {
  const int seconds = std::stoi(Env("BENCH_IDLE_SECONDS", "60"));
  Say("floor: %d s of a process waking every 100 ms, then a pty reader's wake-up", seconds);
  // perl's select() with a time-out: a poll loop and nothing else (perl-base is in every Debian).
  const double poll =
      IdleFloor({"perl", "-e", "select(undef, undef, undef, 0.1) while 1"}, seconds);
  const double qt = IdleFloor({VELMORA_TICK_BIN}, seconds);
  Report("floor: CPU of a Qt event loop with one 100 ms timer and nothing else",
         Format("%.2f%% (a bare poll loop with a 100 ms time-out: %.2f%%)", qt, poll));

  // A reader blocked in poll on the pty's other side, stamping the time it read a line; then the
  // same in a Qt event loop.
  const auto wake = [](const std::vector<std::string>& command, Pty& pty, int stamps) {
    std::mt19937 random(7);
    std::vector<double> ms;
    Sleep(300ms);
    for (int i = 0; i < 1000; ++i) {
      if (!pty.WriteAll("temperature: 0019\r\n", 5s)) Fail(command[0] + " stopped reading");
      const std::int64_t written = MonotonicNs();
      std::int64_t at = 0;
      pollfd p{stamps, POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1 || ::read(stamps, &at, sizeof at) != sizeof at)
        Fail(command[0] + " stamped nothing");
      ms.push_back(static_cast<double>(at - written) / 1e6);
      Sleep(std::chrono::microseconds(random() % 3000));
    }
    std::sort(ms.begin(), ms.end());
    return Format("%.3f / %.2f ms", ms[ms.size() / 2], ms.back());
  };
  std::string figures[2];
  for (int inQt = 0; inQt < 2; ++inQt) {
    Pty pty;
    int stamps[2];
    if (::pipe(stamps) != 0) Fail("pipe");
    const std::string out = std::to_string(stamps[1]);
    const std::vector<std::string> command =
        inQt ? std::vector<std::string>{VELMORA_TICK_BIN, "--read", pty.SlavePath(), out}
           : std::vector<std::string>{
                 "perl", "-e",
                 "open(my $f, '+<', $ARGV[0]) or die; system('stty raw -echo <' . $ARGV[0]); "
                 "open(my $o, '>&=', $ARGV[1]) or die; $o->autoflush(1); "
                 "require Time::HiRes; while (sysread($f, my $b, 256)) { "
                 "print $o pack('q', int(Time::HiRes::clock_gettime(1) * 1e9)); }",
                 pty.SlavePath(), out};
    drive::Child reader(command, {});
    ::close(stamps[1]);
    figures[inQt] = wake(command, pty, stamps[0]);
    ::close(stamps[0]);
  }
  Report("floor: a pty's line to a reader's wake-up and read, median / worst of 1000: a Qt event "
         "loop",
         Format("%s (a bare blocking reader: %s)", figures[1].c_str(), figures[0].c_str()));
}

// ---------------------------------------------------------------------------------------------
// A rack: simulated cards at 57600 baud, all behind one ser2net (RFC 2217), and velmora-batch
// over them. The download's efficiency is measured at each card, from its own trace.

struct Rack {
  std::vector<std::unique_ptr<Card>> cards;
  std::vector<int> ports;
  std::optional<drive::Child> server;
};

void StartRack(Rack& rack, const Paths& paths, const std::string& tag, int count) {
  for (int i = 0; i < count; ++i) {
    const std::string name = Format("%s-%02d", tag.c_str(), i);
    rack.cards.push_back(std::make_unique<Card>(
        paths, name,
        std::vector<std::string>{"--start", "linecard", "--quiet", "--steady", "--baud", "57600",
                                 "--trace", (paths.work / (name + ".trace")).string()}));
  }
  const fs::path config = paths.work / ("ser2net-" + tag + ".yaml");
  std::ofstream out(config);
  // Distinct free ports: each held by a socket of ours until all are chosen.
  std::vector<int> held;
  for (int i = 0; i < count; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size) != 0)
      Fail("no free TCP port");
    held.push_back(fd);
    rack.ports.push_back(ntohs(at.sin_port));
  }
  for (int fd : held) ::close(fd);
  for (int i = 0; i < count; ++i) {
    out << "connection: &c" << i << "\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
        << rack.ports[i] << "\n  connector: serialdev," << rack.cards[i]->Link()
        << ",57600n81,local\n";
  }
  out.close();
  const int log = OpenLog(paths.work / ("ser2net-" + tag + ".err"));
  rack.server.emplace(std::vector<std::string>{"/usr/sbin/ser2net", "-n", "-u", "-c",
                                               config.string(), "-P", config.string() + ".pid"},
                      std::vector<std::string>{}, drive::Io{.output = log, .errors = log});
  ::close(log);
  for (int port : rack.ports)
    if (!drive::WaitUntil([&] { return drive::SocketIn(port, "0A"); }, 10s))
      Fail(Format("ser2net does not listen on %d: %s", port,
                  Slurp(paths.work / ("ser2net-" + tag + ".err")).c_str()));
}

struct BatchFigures {
  double seconds = 0, cpu = 0;
  long peakKb = 0;
  int status = -1;
  std::string report;
};

// velmora-batch on a job over the rack's first `count` cards, timed by wait4's own figures.
BatchFigures RunBatch(const Paths& paths, const Rack& rack, const std::string& tag, int count,
                      bool download) {
  std::ostringstream job;
  job << "cards:\n";
  for (int i = 0; i < count; ++i) job << "  - rfc2217://127.0.0.1:" << rack.ports[i] << "\n";
  job << "expect: linecard\n";
  if (download) job << "program: " << (paths.work / "prog.hex").string() << "\n";
  const fs::path jobFile = paths.work / (tag + ".yaml"), report = paths.work / (tag + ".json");
  std::ofstream(jobFile) << job.str();
  const int log = OpenLog(paths.work / (tag + ".err"));
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(log, 1);
    ::dup2(log, 2);
    ::setenv("VELMORA_STATE_DIR", (paths.work / "state").c_str(), 1);
    ::execl(VELMORA_BATCH_BIN, VELMORA_BATCH_BIN, jobFile.c_str(), "--quiet", "--report",
            report.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(log);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  BatchFigures f;
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  f.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  f.peakKb = usage.ru_maxrss;
  f.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  f.report = Slurp(report);
  if (f.status != 0) Fail(Format("velmora-batch exited with %d: %s", f.status,
                                 Slurp(paths.work / (tag + ".err")).c_str()));
  return f;
}

void BatchRack(const Paths& paths) {
  const int count = std::atoi(Env("BENCH_RACK_CARDS", "32").c_str());
  const fs::path bin = paths.work / "prog.bin";
  {
    std::ifstream in(paths.cardsim, std::ios::binary);
    std::string head(40000, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(bin, std::ios::binary).write(head.data(), in.gcount());
  }
  if (std::system(("objcopy -I binary -O ihex " + bin.string() + " " +
                   (paths.work / "prog.hex").string()).c_str()) != 0)
    Fail("objcopy failed");
  const std::size_t bytes = Slurp(paths.work / "prog.hex").size();
  Rack rack;
  StartRack(rack, paths, "rack", count);
  Say("batch: one card, then all %d, each downloading %zu bytes at 57600 baud", count, bytes);
  const BatchFigures one = RunBatch(paths, rack, "batch-one", 1, true);
  const BatchFigures all = RunBatch(paths, rack, "batch-all", count, true);
  // Each card's last download, from its own trace.
  double worst = 1e9, sum = 0;
  for (int i = 1; i <= count; ++i) {
    const fs::path trace = paths.work / Format("rack-%02d.trace", i - 1);
    std::vector<double> begins, ends;
    std::istringstream in(Slurp(trace));
    for (std::string line; std::getline(in, line);) {
      if (line.find("[program file begins]") != std::string::npos) begins.push_back(std::atof(line.c_str()));
      if (line.find("[program file ends") != std::string::npos) ends.push_back(std::atof(line.c_str()));
    }
    if (begins.empty() || ends.empty()) Fail(Format("card %d took no program", i - 1));
    const double efficiency = static_cast<double>(bytes) / ((ends.back() - begins.back()) * 5760.0);
    worst = std::min(worst, efficiency);
    sum += efficiency;
  }
  Report(Format("batch: %d cards behind one ser2net, download: the slowest card's bytes / "
                "(transfer time × 5,760 bytes/s)", count),
         Format("%.1f%% (mean %.1f%%)", 100 * worst, 100 * sum / count), "≥ 97%", worst >= 0.97);
  Report(Format("batch: the job's time, %d cards / 1 card", count),
         Format("%.1f s / %.1f s (+%.1f%%)", all.seconds, one.seconds,
                100 * (all.seconds / one.seconds - 1)),
         "≤ +10%", all.seconds <= one.seconds * 1.10);
  Report(Format("batch: velmora-batch CPU and peak memory, %d cards", count),
         Format("%.2f CPU-s (%.1f%% of one CPU), %.1f MiB", all.cpu, 100 * all.cpu / all.seconds,
                static_cast<double>(all.peakKb) / 1024));
}

void BatchSweep(const Paths& paths) {
  const int count = std::atoi(Env("BENCH_SWEEP_CARDS", "100").c_str());
  Rack rack;
  StartRack(rack, paths, "sweep", count);
  Say("sweep: a status job over %d cards", count);
  const BatchFigures f = RunBatch(paths, rack, "sweep", count, false);
  Report(Format("sweep: status of %d cards behind one ser2net, no download", count),
         Format("%.1f s, %.2f CPU-s, %.1f MiB peak", f.seconds, f.cpu,
                static_cast<double>(f.peakKb) / 1024));
}

const std::map<std::string, std::function<void(const Paths&)>> kScenarios = {
    {"flood", Flood},       {"idle", Idle},         {"trends", TrendsMemory}, {"latency", Latency},
    {"download", Download}, {"hexcheck", HexCheck}, {"startup", Startup},     {"replug", Replug},
    {"silence", Silence},   {"network", Network},   {"recorder", RecorderCost},
    {"batch", BatchRack},   {"sweep", BatchSweep},  {"floor", Floor}};
const std::vector<std::string> kOrder = {"flood",   "idle",    "trends",  "latency",
                                         "download", "hexcheck", "startup", "replug",
                                         "silence",  "network",  "recorder", "floor",
                                         "batch",    "sweep"};

int Usage() {
  std::fprintf(
      stderr,
      "Usage: velmora-bench [--console PATH] [--cardsim PATH] [--work DIR] [SCENARIO...]\n"
      "Scenarios: flood idle trends latency download hexcheck startup replug silence network\n"
      "recorder floor batch sweep (default: all, in this order; silence needs root for its network\n"
      "namespaces).\n"
      "Environment: BENCH_FLOOD_BYTES (10000000), BENCH_IDLE_SECONDS (60),\n"
      "BENCH_REPLIES (1000), BENCH_FLOOD_WRITES (blocks; lines: one write a line),\n"
      "BENCH_RACK_CARDS (32), BENCH_SWEEP_CARDS (100).\n"
      "Prints one Markdown table on standard output.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Paths paths{VELMORA_CONSOLE_BIN, VELMORA_CARDSIM_BIN, {}};
  std::vector<std::string> scenarios;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--console" && i + 1 < argc) {
      paths.console = argv[++i];
    } else if (arg == "--cardsim" && i + 1 < argc) {
      paths.cardsim = argv[++i];
    } else if (arg == "--work" && i + 1 < argc) {
      paths.work = argv[++i];
    } else if (kScenarios.count(arg)) {
      scenarios.push_back(arg);
    } else {
      return Usage();
    }
  }
  if (scenarios.empty()) scenarios = kOrder;

  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGINT, OnSignal);
  ::signal(SIGTERM, OnSignal);
  ::signal(SIGHUP, OnSignal);

  bool ownWork = false;
  if (paths.work.empty()) {
    char pattern[] = "/tmp/velmora-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return Usage();
    paths.work = pattern;
    ownWork = true;
  }
  // The consoles record into the work folder, never into the home folder.
  ::setenv("VELMORA_RECORDING_DIR", (paths.work / "recording").c_str(), 1);

  int status = 0;
  Machine();
  for (const std::string& name : kOrder) {
    if (std::find(scenarios.begin(), scenarios.end(), name) == scenarios.end()) continue;
    try {
      kScenarios.at(name)(paths);
    } catch (const std::exception& e) {
      // One table row: the reason's first line; the whole of it on standard error.
      std::fprintf(stderr, "bench: %s failed: %s\n", name.c_str(), e.what());
      std::string why = e.what();
      why = why.substr(0, why.find('\n'));
      Report(name, "failed: " + why, "—", false);
      status = 1;
    }
  }
  drive::Child::KillAll();
  PrintTable();
  if (ownWork) {
    std::error_code ec;
    fs::remove_all(paths.work, ec);
  }
  return status;
}
