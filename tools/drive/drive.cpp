#include "drive/drive.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace velmora::drive {

namespace {

std::set<pid_t>& Children() {
  static std::set<pid_t> pids;
  return pids;
}

}  // namespace

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (; !condition(); std::this_thread::sleep_for(20ms))
    if (std::chrono::steady_clock::now() > deadline) return condition();
  return true;
}

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env, Io io) {
  int in[2] = {io.input, -1}, out[2] = {-1, io.output};
  if ((io.input < 0 && ::pipe2(in, O_CLOEXEC) != 0) ||
      (io.output < 0 && ::pipe2(out, O_CLOEXEC) != 0))
    throw std::runtime_error("pipe");
  if ((pid_ = ::fork()) == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(io.errors, STDERR_FILENO);
    ::setpgid(0, 0);
    for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  if (pid_ < 0) throw std::runtime_error("fork");
  ::setpgid(pid_, pid_);
  Children().insert(pid_);
  ::signal(SIGPIPE, SIG_IGN);
  if (io.input < 0) ::close(in[0]), in_ = in[1];
  if (io.output < 0) ::close(out[1]), out_ = out[0];
}

bool Child::Write(const std::string& text) {
  return in_ >= 0 && ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool Child::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t end;
  while ((end = buffer_.find('\n')) == std::string::npos) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{out_, POLLIN, 0};
    if (out_ < 0 || left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
      return false;
    char chunk[4096];
    const ssize_t n = ::read(out_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
  line = buffer_.substr(0, end);
  buffer_.erase(0, end + 1);
  return true;
}

bool Child::Running() {
  if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_)
    Children().erase(std::exchange(pid_, -1));
  return pid_ > 0;
}

int Child::Stop() {
  if (in_ >= 0) ::close(std::exchange(in_, -1));
  if (Running() && (::kill(-pid_, SIGTERM), !WaitUntil([this] { return !Running(); }, 2s))) {
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
    Children().erase(std::exchange(pid_, -1));
  }
  if (out_ >= 0) ::close(std::exchange(out_, -1));
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

void Child::KillAll() {
  for (const pid_t pid : Children()) ::kill(-pid, SIGKILL);
}

Console::Console(const std::string& program, const std::string& ports, int errors,
                 const std::vector<std::string>& options, const std::vector<std::string>& wrapper)
    : child_(
          [&] {
            auto argv = wrapper;
            argv.push_back(program);
            argv.insert(argv.end(), options.begin(), options.end());
            return argv;
          }(),
          // The settings file of whoever runs this stays out of it.
          {"VELMORA_AUTOMATION=1", "VELMORA_PORTS=" + ports, "QT_QPA_PLATFORM=offscreen",
           "XDG_CONFIG_HOME=/nonexistent"},
          {.errors = errors}) {
  // The driver answers once the window is up.
  if (Ask("get GUI_Main visible", 30s).rfind("ok", 0) != 0)
    throw std::runtime_error("the console did not start");
}

Console::~Console() {
  if (child_.Running()) Ask("quit", 2s);
  WaitUntil([this] { return !child_.Running(); }, 2s);
}

std::string Console::Ask(const std::string& command, std::chrono::milliseconds timeout) {
  std::string reply;
  if (!child_.Write(command + "\n")) return "error cannot write to the console";
  return child_.ReadLine(reply, timeout) ? reply : "error no answer to " + command;
}

std::string Console::Do(const std::string& command, std::chrono::milliseconds timeout) {
  const std::string reply = Ask(command, timeout);
  if (reply.rfind("ok", 0) != 0) throw std::runtime_error(command + ": " + reply);
  std::string value;
  for (std::size_t i = 3; i < reply.size(); ++i) {
    const char next = reply[i] == '\\' && i + 1 < reply.size() ? reply[++i] : 0;
    value += next == 0 ? reply[i] : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return value;
}

bool Console::WaitFor(const std::string& name, const std::string& property,
                      const std::string& value, std::chrono::milliseconds timeout) {
  const auto ms = std::to_string(timeout.count());
  return Ask("wait " + name + " " + property + " " + value + " " + ms, timeout + 5s) == "ok";
}

std::vector<std::string> Console::Boxes() {
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

std::vector<std::string> Console::WaitForBoxes(std::size_t count,
                                               std::chrono::milliseconds timeout) {
  std::vector<std::string> texts;
  WaitUntil([&] { return (texts = Boxes()).size() >= count; }, timeout);
  return texts;
}

Card::Card(const std::string& program, const std::string& link, std::vector<std::string> options,
           Io io)
    : link_(link),
      child_(
          [&] {
            options.insert(options.begin(), {program, "--link", link});
            return options;
          }(),
          {}, io) {
  if (!WaitUntil([&] { return std::filesystem::exists(link_); }, 5s))
    throw std::runtime_error("the simulated card made no link");
}

void Card::Operator(const std::string& command) {
  if (!child_.Write(command + "\n")) throw std::runtime_error("cannot write to the simulated card");
}

std::string Card::Device() const {
  std::error_code ec;
  const auto target = std::filesystem::canonical(link_, ec);
  return ec ? std::string{} : target.string();
}

CpuTimes ProcessCpu(pid_t pid) {
  const std::string all = Slurp("/proc/" + std::to_string(pid) + "/stat");
  const auto close = all.rfind(')');
  if (close == std::string::npos)
    throw std::runtime_error("cannot read /proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(all.substr(close + 2));
  // After the name: state is field 3; utime is field 14.
  std::string field;
  for (int i = 3; i < 14; ++i) fields >> field;
  unsigned long long utime = 0, stime = 0;
  fields >> utime >> stime;
  const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  return {static_cast<double>(utime) / tick, static_cast<double>(stime) / tick};
}

long StatusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
  return 0;
}

int FreeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0;
  if (fd >= 0) ::close(fd);
  if (!bound) throw std::runtime_error("no free TCP port");
  return ntohs(a.sin_port);
}

bool SocketIn(int port, const char* state, const std::string& host, pid_t in) {
  in_addr ip{};
  ::inet_pton(AF_INET, host.c_str(), &ip);
  char local[32];
  // The address as the kernel holds it, in network order, printed as a number of this machine.
  std::snprintf(local, sizeof local, "%08X:%04X", ip.s_addr, port);
  std::istringstream table(
      Slurp(in ? "/proc/" + std::to_string(in) + "/net/tcp" : "/proc/net/tcp"));
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string slot, address, remote, now;
    if (fields >> slot >> address >> remote >> now && address == local && now == state) return true;
  }
  return false;
}

Ser2net::Ser2net(const std::filesystem::path& config, const std::string& device,
                 const std::string& scheme, int at, Io io, Place place, bool kickOldUser)
    : port(at), scheme_(scheme), place_(std::move(place)) {
  std::ofstream(config) << "connection: &card\n  accepter: "
                        << (scheme == "tcp" ? "" : "telnet(rfc2217),") << "tcp," << place_.host
                        << "," << port << "\n  connector: serialdev," << device
                        << ",57600n81,local\n"
                        << (kickOldUser ? "  options:\n    kickolduser: true\n" : "");
  auto argv = place_.wrapper;
  argv.insert(argv.end(), {"/usr/sbin/ser2net", "-n", "-u", "-c", config.string(), "-P",
                           config.string() + ".pid"});
  server_.emplace(argv, std::vector<std::string>{}, io);
  // Asked in the server's own namespace, once it is there.
  const pid_t pid = place_.wrapper.empty() ? 0 : server_->pid();
  if (!WaitUntil([&] { return SocketIn(port, "0A", place_.host, pid); }, 5s))
    throw std::runtime_error("ser2net does not listen (is it installed?)");
}

namespace {

constexpr const char* kNamespacePrefix = "velmora-";

// One ip(8) command; what it said when it failed.
void Ip(const std::string& arguments) {
  std::string said;
  if (FILE* out = ::popen(("/sbin/ip " + arguments + " 2>&1").c_str(), "r")) {
    char chunk[512];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, out)) > 0;) said.append(chunk, n);
    if (::pclose(out) == 0) return;
  }
  throw std::runtime_error("ip " + arguments + ": " + (said.empty() ? "failed" : said));
}

// Namespaces of runs whose process is gone: a run killed before it could clean up.
void RemoveAbandonedNamespaces() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/run/netns", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kNamespacePrefix, 0) != 0) continue;
    const pid_t owner = std::atoi(name.c_str() + std::strlen(kNamespacePrefix));
    if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH) try {
        Ip("netns delete " + name);
      } catch (const std::runtime_error&) {
      }
  }
}

}  // namespace

LinkedNamespaces::LinkedNamespaces() {
  static int made = 0;
  const std::string name =
      kNamespacePrefix + std::to_string(::getpid()) + "-" + std::to_string(made++);
  RemoveAbandonedNamespaces();
  if (::geteuid() != 0) throw std::runtime_error("network namespaces need root");
  Ip("netns add " + name + "-s");
  server_ = name + "-s";
  try {
    Ip("netns add " + name + "-c");
    client_ = name + "-c";
    // Made in the namespaces themselves: the host never sees the pair.
    Ip("link add wire netns " + server_ + " type veth peer name wire netns " + client_);
    Ip("-n " + server_ + " address add 169.254.77.1/30 dev wire");
    Ip("-n " + client_ + " address add 169.254.77.2/30 dev wire");
    Ip("-n " + client_ + " link set wire up");
    ServerLink(true);
  } catch (...) {
    Remove();
    throw;
  }
}

void LinkedNamespaces::Remove() {
  // Deleting a namespace takes its end of the pair, and the pair with it, once the last
  // process in it is gone.
  for (const auto& name : {server_, client_}) try {
      if (!name.empty()) Ip("netns delete " + name);
    } catch (const std::runtime_error&) {
    }
}

void LinkedNamespaces::ServerLink(bool up) {
  Ip("-n " + server_ + " link set wire " + (up ? "up" : "down"));
}

}  // namespace velmora::drive
