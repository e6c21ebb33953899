#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace velmora::e2e {

Child::~Child() { Stop(); }

void Child::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  pid_ = ::fork();
  if (pid_ == 0) {
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

void Child::Write(const std::string& text) {
  if (in_ >= 0) [[maybe_unused]] auto n = ::write(in_, text.data(), text.size());
}

bool Child::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto end = buffer_.find('\n');
    if (end != std::string::npos) {
      line = buffer_.substr(0, end);
      buffer_.erase(0, end + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::read(out_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

bool Child::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void Child::Stop() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
  if (pid_ > 0) {
    ::kill(-pid_, SIGTERM);
    for (int i = 0; i < 40 && Running(); ++i) std::this_thread::sleep_for(50ms);
    if (pid_ > 0) {
      ::kill(-pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  if (out_ >= 0) ::close(out_);
  out_ = -1;
}

Workspace::Workspace() {
  char pattern[] = "/tmp/velmora-e2e-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  dir_ = pattern;
}

Workspace::~Workspace() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

Card::Card(Workspace& ws, std::vector<std::string> options)
    : link_(ws.Path("card")), trace_(ws.Path("trace.txt")) {
  std::vector<std::string> argv = {VELMORA_CARDSIM_BIN, "--link", link_, "--trace", trace_};
  argv.insert(argv.end(), options.begin(), options.end());
  child_.Start(argv, {});
  for (int i = 0; i < 100 && !std::filesystem::exists(link_); ++i) std::this_thread::sleep_for(20ms);
  if (!std::filesystem::exists(link_)) throw std::runtime_error("the simulated card made no link");
}

std::vector<std::string> Card::Trace() const {
  std::ifstream in(trace_);
  std::vector<std::string> lines;
  // Each line: seconds, the program that took the command, the command.
  for (std::string line; std::getline(in, line);) {
    const auto first = line.find(' ');
    const auto second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second != std::string::npos) lines.push_back(line.substr(second + 1));
  }
  return lines;
}

double Card::TraceTime(const std::string& text) const {
  std::ifstream in(trace_);
  for (std::string line; std::getline(in, line);)
    if (line.find(text) != std::string::npos) return std::stod(line);
  return -1;
}

std::string Card::Device() const {
  std::error_code ec;
  const auto target = std::filesystem::canonical(link_, ec);
  return ec ? std::string{} : target.string();
}

bool Card::WaitForCommands(const std::vector<std::string>& commands,
                           std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto trace = Trace();
    auto at = trace.begin();
    bool all = true;
    for (const auto& command : commands) {
      at = std::find(at, trace.end(), command);
      if (at == trace.end()) {
        all = false;
        break;
      }
      ++at;
    }
    if (all) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
}

ConsoleApp::ConsoleApp(const std::string& ports) {
  child_.Start({VELMORA_CONSOLE_BIN},
               {"VELMORA_AUTOMATION=1", "VELMORA_PORTS=" + ports, "QT_QPA_PLATFORM=offscreen"});
  // The driver answers once the window is up.
  if (Ask("get GUI_Main visible").rfind("ok", 0) != 0)
    throw std::runtime_error("the console did not start");
}

ConsoleApp::~ConsoleApp() {
  if (child_.Running()) Ask("quit", 2s);
  for (int i = 0; i < 40 && child_.Running(); ++i) std::this_thread::sleep_for(50ms);
  child_.Stop();
}

std::string ConsoleApp::Ask(const std::string& command, std::chrono::milliseconds timeout) {
  child_.Write(command + "\n");
  std::string reply;
  if (!child_.ReadLine(reply, timeout)) return "error no answer to " + command;
  return reply;
}

std::string ConsoleApp::Do(const std::string& command, std::chrono::milliseconds timeout) {
  const std::string reply = Ask(command, timeout);
  if (reply.rfind("ok", 0) != 0) throw std::runtime_error(command + ": " + reply);
  std::string value;
  for (std::size_t i = 3; i < reply.size(); ++i) {
    if (reply[i] == '\\' && i + 1 < reply.size()) {
      const char next = reply[++i];
      value += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    } else {
      value += reply[i];
    }
  }
  return value;
}

std::string ConsoleApp::Get(const std::string& name, const std::string& property) {
  return Do("get " + name + " " + property);
}

bool ConsoleApp::WaitFor(const std::string& name, const std::string& property,
                         const std::string& value, std::chrono::milliseconds timeout) {
  const auto reply = Ask("wait " + name + " " + property + " " + value + " " +
                             std::to_string(timeout.count()),
                         timeout + 5s);
  return reply == "ok";
}

std::vector<std::string> ConsoleApp::Boxes() {
  // "COUNT TEXT|TEXT|..."
  const std::string answer = Do("boxes");
  const auto blank = answer.find(' ');
  const std::size_t count = std::stoul(answer.substr(0, blank));
  std::vector<std::string> texts;
  if (count == 0) return texts;
  std::string rest = blank == std::string::npos ? std::string{} : answer.substr(blank + 1);
  if (count == 1) return {rest};
  for (std::size_t at; (at = rest.find('|')) != std::string::npos; rest.erase(0, at + 1))
    texts.push_back(rest.substr(0, at));
  texts.push_back(rest);
  return texts;
}

std::vector<std::string> ConsoleApp::WaitForBoxes(std::size_t count,
                                                  std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto texts = Boxes();
    if (texts.size() >= count || std::chrono::steady_clock::now() > deadline) return texts;
    std::this_thread::sleep_for(50ms);
  }
}

bool ConsoleApp::CloseBox() { return Ask("close-box").rfind("ok", 0) == 0; }

std::vector<std::string> OpenFiles(pid_t pid) {
  std::vector<std::string> targets;
  std::error_code ec;
  const std::filesystem::path dir = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::error_code link_ec;
    const auto target = std::filesystem::read_symlink(entry.path(), link_ec);
    if (!link_ec) targets.push_back(target.string());
  }
  return targets;
}

std::vector<std::string> OpenFilesTo(pid_t pid, const std::string& path) {
  std::vector<std::string> found;
  for (const auto& target : OpenFiles(pid))
    if (target == path || target == path + " (deleted)") found.push_back(target);
  return found;
}

long long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), {});
  // The command name may hold blanks and parentheses: the fields start after the last ')'.
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  long long utime = 0, stime = 0;
  // Fields 3 to 13 come before utime (14) and stime (15).
  for (int i = 3; i <= 13; ++i) fields >> field;
  fields >> utime >> stime;
  return utime + stime;
}

double CpuPercentOver(pid_t pid, std::chrono::milliseconds period) {
  const long long before = CpuTicks(pid);
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(period);
  const long long after = CpuTicks(pid);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double ticks_per_second = static_cast<double>(::sysconf(_SC_CLK_TCK));
  return 100.0 * static_cast<double>(after - before) / ticks_per_second / seconds;
}

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

std::vector<std::string> FirstRound() {
  return {"rdm ff28 4", "rdm ff12 8", "ree 0",      "ree 4",      "battery",    "temperature",
          "ree 5",      "versions",   "rdm ff28 4", "rdm ff12 8", "op_status",  "line_state",
          "debug 1",    "rdm ff28 4", "rdm ff12 8", "battery",    "temperature", "rdm ff28 4",
          "rdm ff12 8", "rdm ff28 4", "rdm ff12 8"};
}

}  // namespace velmora::e2e
