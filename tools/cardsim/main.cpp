// velmora-cardsim: one simulated radio card on a pseudo-terminal. This file is the I/O around the
// card: the line, its speed, the operator's input, the script and the record files.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "cardsim/card.h"
#include "cardsim/line_pacer.h"
#include "cardsim/operator_command.h"
#include "cardsim/options.h"
#include "cardsim/pty_line.h"

namespace velmora::cardsim {
namespace {

volatile sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int signal_number) {
  g_stop_signal = signal_number;
}

class Clock {
 public:
  Time Now() const {
    return std::chrono::duration_cast<Time>(std::chrono::steady_clock::now() - start_);
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::string Seconds(Time at) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", std::chrono::duration<double>(at).count());
  return text;
}

// Writes all of `bytes` to a file; a failing record file must not stop the card.
void WriteAll(int fd, std::string_view bytes) {
  while (fd >= 0 && !bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

int CreateFile(const std::string& path) {
  if (path.empty()) return -1;
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// The simulator's log on standard error, and the files the tests read.
class Recorder : public CardListener {
 public:
  Recorder(const Options& options, const Clock& clock)
      : clock_(clock), quiet_log_(options.quiet_log), program_path_(options.program_out) {}
  ~Recorder() override {
    for (int fd : {trace_fd_, sent_fd_, program_fd_}) {
      if (fd >= 0) close(fd);
    }
  }

  bool OpenFiles(const Options& options, std::string& error) {
    trace_fd_ = CreateFile(options.trace);
    sent_fd_ = CreateFile(options.record_sent);
    if ((!options.trace.empty() && trace_fd_ < 0) ||
        (!options.record_sent.empty() && sent_fd_ < 0)) {
      error = std::string("cannot create a record file: ") + std::strerror(errno);
      return false;
    }
    return true;
  }

  void Sent(std::string_view bytes) { WriteAll(sent_fd_, bytes); }

  void CommandReceived(Time at, std::string_view who, std::string_view command) override {
    Trace(at, who, command);
  }

  void ProgramBegins() override {
    if (program_fd_ >= 0) close(program_fd_);
    program_fd_ = CreateFile(program_path_);
    if (!program_path_.empty() && program_fd_ < 0) {
      Error("cannot create " + program_path_ + ": " + std::strerror(errno));
    }
    Trace(clock_.Now(), "boot", "[program file begins]");
  }

  void ProgramBytes(std::string_view bytes) override { WriteAll(program_fd_, bytes); }

  void ProgramEnds(std::string_view verdict) override {
    Trace(clock_.Now(), "boot", "[program file ends: " + std::string(verdict) + "]");
  }

  void Status(Time at, std::string_view text) override {
    if (!quiet_log_)
      std::fprintf(stderr, "cardsim %9s  %.*s\n", Seconds(at).c_str(),
                   static_cast<int>(text.size()), text.data());
  }

  void Error(std::string_view text) {
    std::fprintf(stderr, "cardsim %9s  error: %.*s\n", Seconds(clock_.Now()).c_str(),
                 static_cast<int>(text.size()), text.data());
  }

  // Answers to the operator's own commands show even with --quiet-log: they were asked for.
  void Reply(std::string_view text) {
    if (!text.empty()) std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }

 private:
  void Trace(Time at, std::string_view who, std::string_view text) {
    if (trace_fd_ < 0) return;
    // One write per line, so that a reader never sees half a line.
    WriteAll(trace_fd_, Seconds(at) + " " + std::string(who) + " " + std::string(text) + "\n");
  }

  const Clock& clock_;
  bool quiet_log_;
  std::string program_path_;
  int trace_fd_ = -1;
  int sent_fd_ = -1;
  int program_fd_ = -1;
};

class Simulator {
 public:
  Simulator(const Options& options, std::vector<ScriptEntry> script)
      : options_(options),
        recorder_(options, clock_),
        script_(std::move(script)),
        tx_(LinePacer::ForBaud(options.baud)),
        rx_(LinePacer::ForBaud(options.baud)) {}

  int Run() {
    std::string error;
    if (!recorder_.OpenFiles(options_, error)) return Fail(error);
    if (!Plug(error)) return Fail(error);
    recorder_.Status(clock_.Now(),
                     "seed " + std::to_string(options_.card.seed) + ", " +
                         (options_.baud > 0 ? "line at " + std::to_string(options_.baud) + " baud"
                                            : std::string("no speed limit")));
    card_.emplace(options_.card, clock_.Now(), &recorder_);

    while (!quit_ && g_stop_signal == 0) {
      const Time now = clock_.Now();
      RunScript(now);
      card_->Advance(now);
      WriteOutput(now);
      if (quit_) break;
      Wait(now);
    }
    if (g_stop_signal != 0) {
      recorder_.Status(clock_.Now(), std::string("ended by ") + strsignal(g_stop_signal));
    }
    Unplug();
    return 0;
  }

 private:
  int Fail(const std::string& error) {
    recorder_.Error(error);
    Unplug();
    return 1;
  }

  bool Plug(std::string& error) {
    if (!line_.Open(error)) return false;
    if (!PointLink(options_.link, line_.SlavePath(), error)) {
      line_.Close();
      return false;
    }
    linked_to_ = line_.SlavePath();
    recorder_.Status(clock_.Now(), "line " + linked_to_ + " at " + options_.link);
    return true;
  }

  void Unplug() {
    if (!linked_to_.empty()) RemoveLinkTo(options_.link, linked_to_);
    linked_to_.clear();
    line_.Close();
  }

  void RunScript(Time now) {
    while (next_script_ < script_.size() && script_[next_script_].at <= now) {
      const ScriptEntry& entry = script_[next_script_++];
      recorder_.Status(now, "script: " + entry.text);
      Execute(entry.command, false);
    }
  }

  void Execute(const OperatorCommand& command, bool interactive) {
    std::string error;
    switch (command.verb) {
      case OperatorVerb::kQuit:
        quit_ = true;
        return;
      case OperatorVerb::kHelp:
        recorder_.Reply(OperatorCommandHelp());
        return;
      case OperatorVerb::kUnplug:
        Unplug();
        recorder_.Status(clock_.Now(), "unplugged");
        return;
      case OperatorVerb::kReplug:
        Unplug();
        if (!Plug(error)) recorder_.Error(error);
        return;
      default:
        break;
    }
    const OperatorResult result = card_->Apply(command, clock_.Now());
    if (!result.ok) {
      recorder_.Error(result.message);
    } else if (interactive) {
      recorder_.Reply(result.message);
    } else if (!result.message.empty()) {
      recorder_.Status(clock_.Now(), result.message);
    }
  }

  // The card's text goes out as fast as the line allows; with nobody listening it is lost.
  void WriteOutput(Time now) {
    for (int round = 0; round < 16; ++round) {
      const std::string_view pending = card_->PendingOutput();
      if (pending.empty()) return;
      if (!line_.ConsoleListening()) {
        card_->DiscardOutput();
        return;
      }
      const bool paced = tx_.Limited() && !card_->Unpaced();
      const std::size_t allowed = paced ? tx_.Allowance(now) : std::size_t{64 * 1024};
      const std::size_t count = std::min(pending.size(), allowed);
      if (count == 0) return;
      const ssize_t written = write(line_.Master(), pending.data(), count);
      if (written <= 0) {
        if (written < 0 && errno == EIO) card_->ConsumeOutput(pending.size());
        return;  // EAGAIN: the pty is full until the console reads
      }
      const auto sent = static_cast<std::size_t>(written);
      recorder_.Sent(pending.substr(0, sent));
      card_->ConsumeOutput(sent);
      if (paced) tx_.Spend(sent);
      if (paced) return;  // the next burst when the line has room again
    }
  }

  void ReadLine(Time now) {
    std::array<char, 4096> buffer{};
    const std::size_t allowed = std::min(rx_.Allowance(now), buffer.size());
    if (allowed == 0) return;
    const ssize_t got = read(line_.Master(), buffer.data(), allowed);
    rx_.SetBacklogged(got == static_cast<ssize_t>(allowed));
    if (got > 0) {
      rx_.Spend(static_cast<std::size_t>(got));
      card_->Receive(std::string_view(buffer.data(), static_cast<std::size_t>(got)), now);
    } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
      // EIO while nobody holds the slave: nothing to read; wait a little instead of spinning.
      master_quiet_until_ = now + std::chrono::milliseconds(50);
    }
  }

  void ReadOperator() {
    std::array<char, 1024> buffer{};
    const ssize_t got = read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got <= 0) {
      if (got == 0 || (errno != EINTR && errno != EAGAIN)) stdin_open_ = false;
      return;
    }
    operator_input_.append(buffer.data(), static_cast<std::size_t>(got));
    std::size_t end;
    while ((end = operator_input_.find('\n')) != std::string::npos) {
      const std::string text = operator_input_.substr(0, end);
      operator_input_.erase(0, end + 1);
      if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
      std::string error;
      if (const auto command = ParseOperatorCommand(text, error)) {
        Execute(*command, true);
      } else {
        recorder_.Error(error);
      }
    }
    if (operator_input_.size() > 4096) operator_input_.clear();  // no command is this long
  }

  void Wait(Time now) {
    Time wake = now + std::chrono::milliseconds(200);
    auto consider = [&wake](Time at) { wake = std::min(wake, at); };
    if (const auto card_wake = card_->NextWake()) consider(*card_wake);
    if (next_script_ < script_.size()) consider(script_[next_script_].at);

    std::vector<pollfd> fds;
    int master_index = -1;
    if (line_.IsOpen()) {
      short events = 0;
      if (now >= master_quiet_until_) {
        if (rx_.Allowance(now) >= std::min<std::size_t>(rx_.Burst(), 4096)) {
          events |= POLLIN;
        } else {
          consider(rx_.ReadyAt(now, rx_.Burst()));
        }
      } else {
        consider(master_quiet_until_);
      }
      const std::size_t pending = card_->PendingOutput().size();
      if (pending > 0 && line_.ConsoleListening()) {
        const bool paced = tx_.Limited() && !card_->Unpaced();
        const std::size_t want = std::min(pending, tx_.Burst());
        if (!paced || tx_.Allowance(now) >= want) {
          events |= POLLOUT;
        } else {
          consider(tx_.ReadyAt(now, want));
        }
      }
      master_index = static_cast<int>(fds.size());
      fds.push_back({line_.Master(), events, 0});
    }
    int watch_index = -1;
    if (line_.WatchFd() >= 0) {
      watch_index = static_cast<int>(fds.size());
      fds.push_back({line_.WatchFd(), POLLIN, 0});
    }
    int stdin_index = -1;
    if (stdin_open_) {
      stdin_index = static_cast<int>(fds.size());
      fds.push_back({STDIN_FILENO, POLLIN, 0});
    }

    const Time delay = std::max(Time{0}, wake - now);
    const timespec timeout{static_cast<time_t>(delay.count() / 1'000'000),
                           static_cast<long>(delay.count() % 1'000'000) * 1000};
    sigset_t during_wait;
    sigemptyset(&during_wait);
    const int ready = ppoll(fds.data(), fds.size(), &timeout, &during_wait);
    if (ready <= 0) return;

    const Time after = clock_.Now();
    // Opens and closes first: bytes that arrive with an open belong to the new listener.
    if (watch_index >= 0 && (fds[static_cast<std::size_t>(watch_index)].revents & POLLIN) != 0) {
      const std::string change = line_.TakeWatchEvents();
      if (!change.empty()) recorder_.Status(after, change);
    }
    if (master_index >= 0 && line_.IsOpen()) {
      const short revents = fds[static_cast<std::size_t>(master_index)].revents;
      if ((revents & POLLIN) != 0) {
        ReadLine(after);
      } else if ((revents & (POLLHUP | POLLERR)) != 0) {
        master_quiet_until_ = after + std::chrono::milliseconds(50);
      }
    }
    if (stdin_index >= 0 &&
        (fds[static_cast<std::size_t>(stdin_index)].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      ReadOperator();
    }
  }

  const Options& options_;
  Clock clock_;
  Recorder recorder_;
  std::vector<ScriptEntry> script_;
  std::size_t next_script_ = 0;
  LinePacer tx_;
  LinePacer rx_;
  PtyLine line_;
  std::string linked_to_;
  std::optional<Card> card_;
  Time master_quiet_until_{0};
  bool stdin_open_ = true;
  std::string operator_input_;
  bool quit_ = false;
};

int Main(int argc, char** argv) {
  std::string error;
  auto options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fprintf(stderr, "velmora-cardsim: %s\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (options->version) {
    std::printf("velmora-cardsim %s\n", VELMORA_CARDSIM_VERSION);
    return 0;
  }
  if (!options->seed_given) options->card.seed = std::random_device{}();

  std::vector<ScriptEntry> script;
  if (!options->script.empty()) {
    std::ifstream file(options->script, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "velmora-cardsim: cannot read %s\n", options->script.c_str());
      return 2;
    }
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    auto entries = ParseScript(text, error);
    if (!entries) {
      std::fprintf(stderr, "velmora-cardsim: %s: %s\n", options->script.c_str(), error.c_str());
      return 2;
    }
    script = std::move(*entries);
  }

  // The stop signals are let through only while the loop waits, so that they never cut a write
  // in half. SIGHUP (our terminal went away) ends the run like SIGTERM.
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, signal_number);
  sigprocmask(SIG_BLOCK, &blocked, nullptr);

  return Simulator(*options, std::move(script)).Run();
}

}  // namespace
}  // namespace velmora::cardsim

int main(int argc, char** argv) {
  return velmora::cardsim::Main(argc, argv);
}
