// End-to-end harness: the real console executable, offscreen and driven through its scripted
// driver, talking to the simulated card over a real pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velmora::e2e {

using namespace std::chrono_literals;

// Polls `condition` until it holds or the time is up; its last answer.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (; !condition(); std::this_thread::sleep_for(20ms))
    if (std::chrono::steady_clock::now() > deadline) return condition();
  return true;
}

inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A child process in its own process group, with pipes to its standard input and output.
class Child {
 public:
  ~Child() { Stop(); }
  void Start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    if ((pid_ = ::fork()) == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::setpgid(0, 0);
      for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    out_ = out[0];
    ::signal(SIGPIPE, SIG_IGN);
  }
  void Write(const std::string& text) {
    if (in_ >= 0 && ::write(in_, text.data(), text.size()) < 0) ADD_FAILURE() << "write failed";
  }
  // One line of standard output without its end; false on time-out or end of output.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t end;
    while ((end = buffer_.find('\n')) == std::string::npos) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{out_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char chunk[4096];
      const ssize_t n = ::read(out_, chunk, sizeof chunk);
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return true;
  }
  bool Running() {
    if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }
  // SIGTERM to the group, SIGKILL if it lingers; the exit status (128 + signal if killed).
  int Stop() {
    if (in_ >= 0) ::close(std::exchange(in_, -1));
    if (Running() && (::kill(-pid_, SIGTERM), !WaitUntil([this] { return !Running(); }, 2s))) {
      ::kill(-pid_, SIGKILL);
      ::waitpid(std::exchange(pid_, -1), &status_, 0);
    }
    if (out_ >= 0) ::close(std::exchange(out_, -1));
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1, in_ = -1, out_ = -1;
  std::string buffer_;
};

// A temporary directory, removed with everything in it.
class Workspace {
 public:
  Workspace() {
    char pattern[] = "/tmp/velmora-e2e-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
  }
  ~Workspace() { std::filesystem::remove_all(dir_, ec_); }
  std::filesystem::path Path(const std::string& name) const { return dir_ / name; }

 private:
  std::filesystem::path dir_;
  std::error_code ec_;
};

// An Intel HEX file made by objcopy from the start of a real binary: about 2.8 bytes of text
// a byte.
inline std::string MakeProgram(Workspace& ws, std::size_t binary_bytes,
                               const std::string& name = "prog.hex") {
  const std::string bin = ws.Path(name + ".bin"), hex = ws.Path(name);
  std::ofstream(bin, std::ios::binary) << Slurp(VELMORA_CARDSIM_BIN).substr(0, binary_bytes);
  if (std::system(("objcopy -I binary -O ihex " + bin + " " + hex).c_str()) != 0)
    throw std::runtime_error("objcopy failed");
  return hex;
}

// The simulated card.
class Card {
 public:
  Card(Workspace& ws, std::vector<std::string> options)
      : link_(ws.Path("card")), trace_(ws.Path("trace.txt")) {
    options.insert(options.begin(), {VELMORA_CARDSIM_BIN, "--link", link_, "--trace", trace_});
    child_.Start(options, {});
    if (!WaitUntil([&] { return std::filesystem::exists(link_); }, 2s))
      throw std::runtime_error("the simulated card made no link");
  }
  std::string Link() const { return link_; }
  // Commands the card received, in order, and its notes on the program file.
  std::vector<std::string> Trace() const {
    std::istringstream in(Slurp(trace_));
    std::vector<std::string> lines;
    // Each line: seconds, the program that took the command, the command.
    for (std::string seconds, program, command; in >> seconds >> program >> std::ws;)
      if (std::getline(in, command)) lines.push_back(command);
    return lines;
  }
  // One write: several commands separated by line ends reach the card in the same instant.
  void Operator(const std::string& command) { child_.Write(command + "\n"); }
  // The pseudo-terminal the link points at now, e.g. /dev/pts/3; "" while unplugged.
  std::string Device() const {
    std::error_code ec;
    const auto target = std::filesystem::canonical(link_, ec);
    return ec ? std::string{} : target.string();
  }
  int Stop() { return child_.Stop(); }

 private:
  Child child_;
  std::string link_, trace_;
};

// The real console, offscreen.
class ConsoleApp {
 public:
  explicit ConsoleApp(const std::string& ports) {
    child_.Start({VELMORA_CONSOLE_BIN},
                 {"VELMORA_AUTOMATION=1", "VELMORA_PORTS=" + ports, "QT_QPA_PLATFORM=offscreen"});
    // The driver answers once the window is up.
    if (Ask("get GUI_Main visible").rfind("ok", 0) != 0)
      throw std::runtime_error("the console did not start");
  }
  ~ConsoleApp() {
    if (child_.Running()) Ask("quit", 2s);
    WaitUntil([this] { return !child_.Running(); }, 2s);
  }
  // One command, its answer ("ok ..." or "error ...").
  std::string Ask(const std::string& command, std::chrono::milliseconds timeout = 20s) {
    child_.Write(command + "\n");
    std::string reply;
    return child_.ReadLine(reply, timeout) ? reply : "error no answer to " + command;
  }
  // Asks and expects "ok"; returns what follows it, its line ends and backslashes unescaped.
  std::string Do(const std::string& command, std::chrono::milliseconds timeout = 20s) {
    const std::string reply = Ask(command, timeout);
    if (reply.rfind("ok", 0) != 0) throw std::runtime_error(command + ": " + reply);
    std::string value;
    for (std::size_t i = 3; i < reply.size(); ++i) {
      const char next = reply[i] == '\\' && i + 1 < reply.size() ? reply[++i] : 0;
      value += next == 0 ? reply[i] : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return value;
  }
  std::string Get(const std::string& name, const std::string& property = "text") {
    return Do("get " + name + " " + property);
  }
  bool WaitFor(const std::string& name, const std::string& property, const std::string& value,
               std::chrono::milliseconds timeout) {
    const auto ms = std::to_string(timeout.count());
    return Ask("wait " + name + " " + property + " " + value + " " + ms, timeout + 5s) == "ok";
  }
  pid_t pid() const { return child_.pid(); }
  // The texts of the message boxes shown so far, open or closed, in order.
  std::vector<std::string> Boxes() {
    // "COUNT TEXT|TEXT|...": the last text runs to the end, it may hold line ends.
    std::istringstream answer(Do("boxes"));
    std::size_t count = 0;
    answer >> count;
    answer.get();
    std::vector<std::string> texts(count);
    for (std::size_t i = 0; i < count; ++i)
      std::getline(answer, texts[i], i + 1 < count ? '|' : '\0');
    return texts;
  }
  // Waits until at least `count` boxes were shown; returns what was shown.
  std::vector<std::string> WaitForBoxes(std::size_t count, std::chrono::milliseconds timeout) {
    std::vector<std::string> texts;
    WaitUntil([&] { return (texts = Boxes()).size() >= count; }, timeout);
    return texts;
  }
  // Closes the box shown; false if none is.
  bool CloseBox() { return Ask("close-box").rfind("ok", 0) == 0; }

 private:
  Child child_;
};

// A test with the simulated card and the real console on its link.
class CardAndConsole : public ::testing::Test {
 protected:
  // The card with these options and --quiet, the console on its link (and on `more_ports`), COM1
  // chosen and `program` shown.
  void Connect(std::vector<std::string> options, const std::string& program,
               const std::string& more_ports = "") {
    options.push_back("--quiet");
    card = std::make_unique<Card>(ws, options);
    console = std::make_unique<ConsoleApp>("COM1=" + card->Link() + more_ports);
    ASSERT_NO_FATAL_FAILURE(ChooseCom1(program));
  }
  void ChooseCom1(const std::string& program) {
    console->Do("choose CommPortSelect 1");
    ASSERT_TRUE(console->WaitFor("ProgramText", "text", program, 15s))
        << console->Get("ProgramText");
  }
  // How often the card took `command` since `mark`.
  long Took(const std::string& command) {
    const auto trace = card->Trace();
    return std::count(trace.begin() + static_cast<std::ptrdiff_t>(mark), trace.end(), command);
  }
  // Waits until the card took these commands in this order since `mark` (others may come
  // between).
  bool CardTook(const std::vector<std::string>& commands, std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
          const auto trace = card->Trace();
          auto at = trace.begin() + static_cast<std::ptrdiff_t>(std::min(mark, trace.size()));
          for (const auto& command : commands)
            if ((at = std::find(at, trace.end(), command)) == trace.end())
              return false;
            else
              ++at;
          return true;
        },
        timeout);
  }

  Workspace ws;
  std::unique_ptr<Card> card;
  std::unique_ptr<ConsoleApp> console;  // after the card: it goes first
  std::size_t mark = 0;                 // where the trace of the case under test begins
};

}  // namespace velmora::e2e
