// The real console on a card behind a terminal server: ser2net on 127.0.0.1 bridges the
// simulated card's pseudo-terminal to a raw TCP port and to a Telnet (RFC 2217) port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

// A TCP port on 127.0.0.1 that nobody listens on just now.
int FreePort() {
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t size = sizeof a;
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), size);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(fd);
  return ntohs(a.sin_port);
}

// Whether something listens on 127.0.0.1:port (without connecting, which would take the line).
bool Listening(int port) {
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", port);
  std::istringstream table(Slurp("/proc/net/tcp"));
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string slot, address, remote, state;
    if (fields >> slot >> address >> remote >> state && address == local && state == "0A")
      return true;
  }
  return false;
}

double CpuSeconds(pid_t pid) {
  const std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string skip;
  for (int i = 3; i < 14; ++i) fields >> skip;  // up to utime, field 14
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// ser2net in the foreground with a generated configuration: the card's line on 127.0.0.1:port,
// raw ("tcp") or Telnet with the COM port option ("rfc2217").
class Ser2net {
 public:
  Ser2net(Workspace& ws, const std::string& device, const std::string& scheme, int at = FreePort())
      : port(at) {
    std::ofstream(ws.Path("ser2net.yaml"))
        << "connection: &card\n  accepter: " << (scheme == "tcp" ? "" : "telnet(rfc2217),")
        << "tcp,127.0.0.1," << port << "\n  connector: serialdev," << device << ",57600n81,local\n";
    child_.Start({"/usr/sbin/ser2net", "-n", "-u", "-c", ws.Path("ser2net.yaml")}, {});
    if (!WaitUntil([&] { return Listening(port); }, 5s))
      throw std::runtime_error("ser2net does not listen");
  }
  void Stop() { child_.Stop(); }
  const int port;

 private:
  Child child_;
};

class ThroughSer2net : public CardAndConsole, public ::testing::WithParamInterface<const char*> {
 protected:
  // The card with these options behind ser2net, the console on COM1 = the network port.
  void Connect(std::vector<std::string> options, const std::string& program) {
    options.push_back("--quiet");
    card = std::make_unique<Card>(ws, options);
    server = std::make_unique<Ser2net>(ws, card->Link(), GetParam());
    address = std::string(GetParam()) + "://127.0.0.1:" + std::to_string(server->port);
    console = std::make_unique<ConsoleApp>("COM1=" + address);
    ASSERT_NO_FATAL_FAILURE(ChooseCom1(program));
  }
  std::unique_ptr<Ser2net> server;
  std::string address;
};

TEST_P(ThroughSer2net, TheCardIsFoundPolledEditedAndAnswersATypedCommand) {
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "linecard", "--steady"}, "LINE CARD APP"));
  EXPECT_TRUE(card->WaitForCommands(
      {"cpu", "help", "ree 0", "ree 4", "ree 5", "versions", "op_status", "line_state", "debug 1"},
      15s));
  ASSERT_TRUE(console->WaitFor("SfdText", "text", "31", 10s)) << console->Get("SfdText");
  console->Do("key SfdText Backspace");
  console->Do("key SfdText Backspace");
  console->Do("type SfdText 42");
  console->Do("click SfdButton");
  EXPECT_TRUE(card->WaitForCommands({"wee 0 2A"}, 5s));
  // The card's read-back of its EEPROM shows the new value and disables the button again.
  EXPECT_TRUE(console->WaitFor("SfdButton", "enabled", "0", 5s));
  EXPECT_EQ(console->Get("SfdText"), "42");

  console->Do("tab 2");
  console->Do("type CommandLineText ree 5");
  console->Do("key CommandLineText Return");
  EXPECT_TRUE(card->WaitForCommands({"ree 5"}, 5s, card->Trace().size()));
  EXPECT_TRUE(WaitUntil(
      [&] { return console->Get("TerminalText").find("0005: ") != std::string::npos; }, 5s));
}

TEST_P(ThroughSer2net, AProgramArrivesByteForByteAtTheCardsLineRate) {
  const std::string received = ws.Path("received.hex");
  ASSERT_NO_FATAL_FAILURE(Connect(
      {"--start", "linecard", "--baud", "57600", "--program-out", received}, "LINE CARD APP"));
  const std::string program = MakeProgram(ws, 8000);  // about 4 s at 57600 baud
  console->Do("answer-file " + program);
  console->Do("click DownloadButton");
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Sending prog.hex ...", 15s));
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Flashing prog.hex ...", 30s));
  ASSERT_TRUE(console->WaitFor("DownloadButton", "text", "Program Download", 15s));
  EXPECT_EQ(Slurp(received), Slurp(program));
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", "LINE CARD APP", 15s));
}

TEST_P(ThroughSer2net, AHeldLineIsInUseAndAServerStoppedMidPollIsOneBoxUntilItIsBack) {
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "cpe"}, "CPE APP"));
  {
    ConsoleApp second("COM1=" + address);
    second.Do("choose CommPortSelect 1");
    EXPECT_EQ(second.WaitForBoxes(1, 10s).back(),
              "COM1 (" + address + ") is in use by another program.");
  }
  server->Stop();
  auto boxes = console->WaitForBoxes(1, 10s);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("The connection to COM1 (" + address + ") was lost: ", 0), 0u)
      << boxes[0];
  EXPECT_TRUE(console->CloseBox());
  EXPECT_EQ(console->Get("CommPortSelect"), "DISCONNECT");
  EXPECT_EQ(console->Get("ProgramText"), "UNKNOWN");
  const double cpu = CpuSeconds(console->pid());
  std::this_thread::sleep_for(2s);
  const double percent = (CpuSeconds(console->pid()) - cpu) / 2 * 100;
  std::printf("network port: console CPU %.1f%% over 2 s after the server stopped\n", percent);
  EXPECT_LT(percent, 5.0) << "a busy loop";
  // The server back: the console reconnects by itself.
  server = std::make_unique<Ser2net>(ws, card->Link(), GetParam(), server->port);
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", "CPE APP", 15s));
  // Gone again, and chosen by hand with nobody listening: a port that cannot be opened.
  server->Stop();
  EXPECT_EQ(console->WaitForBoxes(2, 10s).size(), 2u);
  EXPECT_TRUE(console->CloseBox());
  console->Do("choose CommPortSelect 1");
  boxes = console->WaitForBoxes(3, 10s);
  EXPECT_EQ(boxes.back(), "COM1 (" + address + ") cannot be opened: Connection refused.");
  EXPECT_EQ(boxes.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Schemes, ThroughSer2net, ::testing::Values("tcp", "rfc2217"),
                         [](const auto& scheme) { return std::string(scheme.param); });

}  // namespace
}  // namespace velmora::e2e
