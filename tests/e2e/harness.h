// End-to-end harness: the real console executable, offscreen and driven through its scripted
// driver, talking to the simulated card over a real pseudo-terminal.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::e2e {

using namespace std::chrono_literals;

// A child process with pipes to its standard input and output.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();
  void Start(const std::vector<std::string>& argv, const std::vector<std::string>& env);
  void Write(const std::string& text);
  // One line of standard output, without its end; empty optional-like "" with ok=false on time-out.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
  void Stop();
  bool Running();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
};

class Workspace {
 public:
  Workspace();
  ~Workspace();
  std::filesystem::path Path(const std::string& name) const { return dir_ / name; }

 private:
  std::filesystem::path dir_;
};

// The simulated card.
class Card {
 public:
  Card(Workspace& ws, std::vector<std::string> options);
  std::string Link() const { return link_; }
  // Commands the card received, in order.
  std::vector<std::string> Trace() const;
  // When the card took the first trace line holding text, in seconds since it started; -1 if never.
  double TraceTime(const std::string& text) const;
  // Waits until the trace holds the given commands in this order (others may come between).
  bool WaitForCommands(const std::vector<std::string>& commands, std::chrono::milliseconds timeout);
  // One write: several commands separated by line ends reach the card in the same instant.
  void Operator(const std::string& command) { child_.Write(command + "\n"); }
  // The pseudo-terminal the link points at now, e.g. /dev/pts/3; "" while unplugged.
  std::string Device() const;
  void Stop() { child_.Stop(); }

 private:
  Child child_;
  std::string link_;
  std::string trace_;
};

// The real console, offscreen.
class ConsoleApp {
 public:
  explicit ConsoleApp(const std::string& ports);
  ~ConsoleApp();
  // One command, its answer ("ok ..." or "error ...").
  std::string Ask(const std::string& command, std::chrono::milliseconds timeout = 20s);
  // Asks and expects "ok"; returns what follows it.
  std::string Do(const std::string& command, std::chrono::milliseconds timeout = 20s);
  std::string Get(const std::string& name, const std::string& property = "text");
  bool WaitFor(const std::string& name, const std::string& property, const std::string& value,
               std::chrono::milliseconds timeout);
  pid_t pid() const { return child_.pid(); }
  // The texts of the message boxes shown so far, open or closed, in order.
  std::vector<std::string> Boxes();
  // Waits until at least `count` boxes were shown; returns what was shown.
  std::vector<std::string> WaitForBoxes(std::size_t count, std::chrono::milliseconds timeout);
  // Closes the box shown; false if none is.
  bool CloseBox();

 private:
  Child child_;
};

// What a process holds open, from /proc: the target of each of its file descriptors.
std::vector<std::string> OpenFiles(pid_t pid);
// The targets among them that are `path`, also after it was removed ("PATH (deleted)").
std::vector<std::string> OpenFilesTo(pid_t pid, const std::string& path);
// User plus system CPU time of a process, in clock ticks (sysconf(_SC_CLK_TCK) a second).
long long CpuTicks(pid_t pid);
// The share of one core a process used over the coming period, in percent.
double CpuPercentOver(pid_t pid, std::chrono::milliseconds period);
// Resident memory of a process (VmRSS), in kB; -1 if unreadable.
long RssKb(pid_t pid);

// The command stream a card sees in the first round of polling after detection.
std::vector<std::string> FirstRound();

}  // namespace velmora::e2e
