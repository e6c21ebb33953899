// The real console and the simulated card as child processes, driven as an engineer would: the
// console through its automation driver, the card through its operator's commands. The
// benchmarks and the end-to-end tests share it. Failures throw std::runtime_error.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora::drive {

using namespace std::chrono_literals;

std::string Slurp(const std::filesystem::path& path);
// Polls `condition` until it holds or the time is up; its last answer.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Where a child's standard streams go.
struct Io {
  int input = -1;   // -1: a pipe written through Child::Write
  int output = -1;  // -1: a pipe read through Child::ReadLine
  int errors = 2;
};

// A child process in its own process group.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::vector<std::string>& env, Io io = {});
  ~Child() { Stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Write(const std::string& text);
  // One line of standard output without its end; false on time-out or end of output.
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
  bool Running();
  // SIGTERM to the group, SIGKILL if it lingers; the exit status (128 + signal if killed).
  int Stop();
  pid_t pid() const { return pid_; }
  // Kills every child still running, with its group: for a signal handler.
  static void KillAll();

 private:
  pid_t pid_ = -1;
  int status_ = -1, in_ = -1, out_ = -1;
  std::string buffer_;
};

// The console offscreen on this port table (VELMORA_PORTS) and these options, run through
// `wrapper` if one is given (e.g. "ip netns exec NAME"); the constructor returns once its window
// is shown.
class Console {
 public:
  Console(const std::string& program, const std::string& ports, int errors = 2,
          const std::vector<std::string>& options = {},
          const std::vector<std::string>& wrapper = {});
  ~Console();

  // One command, its answer ("ok ..." or "error ...").
  std::string Ask(const std::string& command, std::chrono::milliseconds timeout = 20s);
  // Asks and expects "ok"; returns what follows it, its line ends and backslashes unescaped.
  std::string Do(const std::string& command, std::chrono::milliseconds timeout = 20s);
  std::string Get(const std::string& name, const std::string& property = "text") {
    return Do("get " + name + " " + property);
  }
  bool WaitFor(const std::string& name, const std::string& property, const std::string& value,
               std::chrono::milliseconds timeout);
  // The texts of the message boxes shown so far, open or closed, in order.
  std::vector<std::string> Boxes();
  // Waits until at least `count` boxes were shown; returns what was shown.
  std::vector<std::string> WaitForBoxes(std::size_t count, std::chrono::milliseconds timeout);
  // Closes the box shown; false if none is.
  bool CloseBox() { return Ask("close-box").rfind("ok", 0) == 0; }
  pid_t pid() const { return child_.pid(); }

 private:
  Child child_;
};

// The simulated card with these options, linked at `link`; the constructor returns once the
// link is there.
class Card {
 public:
  Card(const std::string& program, const std::string& link, std::vector<std::string> options,
       Io io = {});
  std::string Link() const { return link_; }
  // One write: several commands separated by line ends reach the card in the same instant.
  void Operator(const std::string& command);
  // The pseudo-terminal the link points at now, e.g. /dev/pts/3; "" while unplugged.
  std::string Device() const;
  int Stop() { return child_.Stop(); }
  pid_t pid() const { return child_.pid(); }

 private:
  std::string link_;
  Child child_;
};

// CPU time of a process, all its threads, from /proc/PID/stat (utime and stime), in seconds.
struct CpuTimes {
  double user = 0;
  double system = 0;
  double Total() const { return user + system; }
};
CpuTimes ProcessCpu(pid_t pid);
// A line of /proc/PID/status in kB (VmHWM, VmRSS); 0 if missing.
long StatusKb(pid_t pid, const std::string& key);

// A TCP port on 127.0.0.1 that nobody listens on just now.
int FreeTcpPort();
// Whether a socket on host:port is in this state of /proc/net/tcp ("0A" listening, "01"
// connected), in the network namespace of process `in` (0: this one): connecting to find out
// would take a terminal server's line.
bool SocketIn(int port, const char* state, const std::string& host = "127.0.0.1", pid_t in = 0);

// Where a server or the console runs: an IPv4 address of its network and what runs a program
// there.
struct Place {
  std::string host = "127.0.0.1";
  std::vector<std::string> wrapper;  // e.g. ip netns exec NAME; none: here
};

// A terminal server: ser2net in the foreground, putting `device` on host:port, raw ("tcp") or
// Telnet with the COM port option ("rfc2217"), its configuration in `config`. With
// `kickOldUser` a client that comes back takes the line from one that fell silent. The
// constructor returns once it listens.
class Ser2net {
 public:
  Ser2net(const std::filesystem::path& config, const std::string& device, const std::string& scheme,
          int port = FreeTcpPort(), Io io = {}, Place place = {}, bool kickOldUser = false);
  // The port table's address of the line, e.g. rfc2217://127.0.0.1:4001.
  std::string Address() const { return scheme_ + "://" + place_.host + ":" + std::to_string(port); }
  void Stop() { server_->Stop(); }
  const int port;

 private:
  std::string scheme_;
  Place place_;
  std::optional<Child> server_;
};

// Two network namespaces of their own joined by a veth pair, a server's end and a client's
// end with link-local addresses: a link to pull with nothing of the host's network touched.
// The names carry the process id, so that parallel runs never meet, and namespaces that a
// killed run left behind are removed by the next. Needs root: the constructor throws the
// reason when the machine does not allow it.
class LinkedNamespaces {
 public:
  LinkedNamespaces();
  ~LinkedNamespaces() { Remove(); }
  LinkedNamespaces(const LinkedNamespaces&) = delete;
  LinkedNamespaces& operator=(const LinkedNamespaces&) = delete;
  Place Server() const { return {"169.254.77.1", {"ip", "netns", "exec", server_}}; }
  Place Client() const { return {"169.254.77.2", {"ip", "netns", "exec", client_}}; }
  // The server's end of the link up or down; down, the client hears nothing at all: no reset,
  // no unreachable, no answer.
  void ServerLink(bool up);

 private:
  void Remove();
  std::string server_, client_;
};

}  // namespace velmora::drive
