// The real velmora-cardsim program on a real pseudo-terminal, opened through its link as the
// console opens a serial port. Every wait is bounded; every process and file is cleaned up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velmora::cardsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kPatience(2000);

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cardsim-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  bool Ok() const { return !path_.empty(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The simulator as a child process, its standard input a pipe the test types into.
class Simulator {
 public:
  Simulator(const std::vector<std::string>& args, const std::string& log_path) {
    int input[2];
    if (pipe(input) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(input[0], STDIN_FILENO);
      close(input[0]);
      close(input[1]);
      const int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (log >= 0) dup2(log, STDERR_FILENO);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(CARDSIM_PROGRAM));
      for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(CARDSIM_PROGRAM, argv.data());
      _exit(127);
    }
    close(input[0]);
    input_ = input[1];
  }

  ~Simulator() {
    if (input_ >= 0) close(input_);
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool Started() const { return pid_ > 0; }

  void Type(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // SIGTERM, then the exit status once it has gone (or -1 if it would not go in time).
  int Terminate() {
    kill(pid_, SIGTERM);
    return WaitExit();
  }

  // The exit status once it has ended by itself, or -1 if it is still running.
  int WaitExit() {
    const auto deadline = Clock::now() + kPatience;
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  bool exited_ = false;
};

bool WaitFor(const std::function<bool()>& condition, milliseconds limit = kPatience) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return condition();
}

bool LinkExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

std::string LinkTarget(const std::string& path) {
  std::error_code error;
  return std::filesystem::read_symlink(path, error).string();
}

// The console's side of the line, opened like a serial port.
class Port {
 public:
  explicit Port(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios settings{};
    if (fd_ >= 0 && tcgetattr(fd_, &settings) == 0) {
      cfmakeraw(&settings);
      tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~Port() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool IsOpen() const { return fd_ >= 0; }

  void Send(const std::string& text) {
    ASSERT_EQ(write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Reads until `text` holds `wanted` or the time is up; returns everything read.
  std::string ReadUntil(const std::string& wanted, milliseconds limit = kPatience) {
    const auto deadline = Clock::now() + limit;
    while (received_.find(wanted) == std::string::npos && Clock::now() < deadline) {
      pollfd fd{fd_, POLLIN, 0};
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      if (poll(&fd, 1, static_cast<int>(std::max<long>(left.count(), 1))) <= 0) continue;
      char buffer[4096];
      const ssize_t got = read(fd_, buffer, sizeof buffer);
      if (got > 0) received_.append(buffer, static_cast<std::size_t>(got));
      if (got <= 0 && errno != EAGAIN) break;
    }
    return received_;
  }

  // Whether the line breaks (read error or hang-up), as a pulled adapter shows itself.
  bool Breaks(milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      pollfd fd{fd_, POLLIN, 0};
      if (poll(&fd, 1, 20) > 0) {
        if ((fd.revents & (POLLHUP | POLLERR)) != 0) return true;
        char buffer[256];
        const ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EAGAIN)) return true;
      }
    }
    return false;
  }

 private:
  int fd_ = -1;
  std::string received_;
};

class CardsimProgram : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.Ok()); }

  std::unique_ptr<Simulator> Start(std::vector<std::string> args) {
    args.insert(args.begin(), {"--link", link_});
    auto simulator = std::make_unique<Simulator>(args, dir_ / "cardsim.log");
    EXPECT_TRUE(simulator->Started());
    EXPECT_TRUE(WaitFor([&] { return LinkExists(link_); })) << ReadFile(dir_ / "cardsim.log");
    return simulator;
  }

  TempDir dir_;
  std::string link_ = dir_ / "card";
};

TEST_F(CardsimProgram, AnswersCpuOverItsLinkAndRemovesTheLinkWhenTerminated) {
  auto simulator = Start({"--start", "boot", "--quiet"});
  Port port(link_);
  ASSERT_TRUE(port.IsOpen());
  port.Send("cpu\r\n");
  const std::string text = port.ReadUntil("\r\n");
  EXPECT_EQ(text.rfind("Maximum CPU% ", 0), 0u) << text;
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

  EXPECT_EQ(simulator->Terminate(), 0);
  EXPECT_FALSE(LinkExists(link_));
}

TEST_F(CardsimProgram, ConsoleMayCloseAndReopenAndHearsNothingSaidInBetween) {
  auto simulator = Start({"--start", "linecard", "--cpes", "none", "--quiet", "--quiet-log"});
  {
    Port port(link_);
    port.Send("ree 5\r\n");
    EXPECT_NE(port.ReadUntil("0005: 01\r\n").find("0005: 01\r\n"), std::string::npos);
    // A console that stops reading in the middle of a flood, and then closes the port.
    simulator->Type("flood 100000000");
    std::this_thread::sleep_for(milliseconds(200));
  }
  std::this_thread::sleep_for(milliseconds(100));  // the simulator notices the close
  simulator->Type("say said to nobody");
  std::this_thread::sleep_for(milliseconds(200));

  Port again(link_);
  again.Send("ree 0\r\n");
  EXPECT_EQ(again.ReadUntil("0000: 1F\r\n"), "0000: 1F\r\n");
  EXPECT_EQ(simulator->Terminate(), 0);
}

TEST_F(CardsimProgram, RecordsWhatItSentAndTracesWhatItReceived) {
  auto simulator = Start({"--start", "linecard", "--cpes", "none", "--quiet", "--steady",
                          "--record-sent", dir_ / "sent.bin", "--trace", dir_ / "trace.txt"});
  Port port(link_);
  port.Send("ree 4\r\ntemperature\r\n");
  const std::string text = port.ReadUntil("temperature: 0019\r\n");
  EXPECT_EQ(text, "0004: 06\r\ntemperature: 0019\r\n");
  EXPECT_EQ(simulator->Terminate(), 0);

  EXPECT_EQ(ReadFile(dir_ / "sent.bin"), text);
  std::istringstream trace(ReadFile(dir_ / "trace.txt"));
  std::string seconds, who, command;
  trace >> seconds >> who >> std::ws;
  std::getline(trace, command);
  EXPECT_EQ(who + " " + command, "linecard ree 4");
  trace >> seconds >> who >> command;
  EXPECT_EQ(who + " " + command, "linecard temperature");
}

TEST_F(CardsimProgram, UnplugBreaksTheConsolesLineAndReplugOffersANewOne) {
  auto simulator = Start({"--start", "boot", "--quiet", "--quiet-log"});
  const std::string first = LinkTarget(link_);
  Port port(link_);
  simulator->Type("unplug");
  EXPECT_TRUE(port.Breaks(kPatience));
  EXPECT_TRUE(WaitFor([&] { return !LinkExists(link_); }));

  simulator->Type("replug");
  ASSERT_TRUE(WaitFor([&] { return LinkExists(link_); }));
  EXPECT_NE(LinkTarget(link_), first) << "the old line is still held by the console";
  Port replugged(link_);
  replugged.Send("cpu\r\n");
  EXPECT_NE(replugged.ReadUntil("\r\n").find("Maximum CPU%"), std::string::npos);
  EXPECT_EQ(simulator->Terminate(), 0);
}

TEST_F(CardsimProgram, SpeedLimitHoldsTheCardToItsLineRate) {
  // 19200 baud: 1,920 bytes a second; the line card's help is several hundred bytes long.
  auto simulator =
      Start({"--start", "linecard", "--cpes", "none", "--quiet", "--quiet-log", "--baud", "19200"});
  Port port(link_);
  const auto start = Clock::now();
  port.Send("help\r\n");
  const std::string text = port.ReadUntil("Restarts the card\r\n", milliseconds(3000));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ASSERT_NE(text.find("Restarts the card\r\n"), std::string::npos);
  EXPECT_GT(seconds, 0.8 * static_cast<double>(text.size()) / 1920.0) << text.size() << " bytes";
  EXPECT_LT(seconds, 2.0 * static_cast<double>(text.size()) / 1920.0 + 0.2);
  EXPECT_EQ(simulator->Terminate(), 0);
}

TEST_F(CardsimProgram, RefusesToReplaceAFileThatIsNotASymlink) {
  { std::ofstream(link_) << "keep me"; }
  Simulator simulator({"--link", link_, "--quiet"}, dir_ / "cardsim.log");
  EXPECT_EQ(simulator.WaitExit(), 1);
  EXPECT_EQ(ReadFile(link_), "keep me");
}

}  // namespace
}  // namespace velmora::cardsim
