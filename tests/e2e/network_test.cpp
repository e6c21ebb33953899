// The real console on a card behind a terminal server: ser2net on 127.0.0.1 bridges the
// simulated card's pseudo-terminal to a raw TCP port and to a Telnet (RFC 2217) port.
#include <gtest/gtest.h>

#include <optional>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

class ThroughSer2net : public CardAndConsole, public ::testing::WithParamInterface<const char*> {
 protected:
  // The card with these options behind ser2net, the console started with --port COM1= the
  // network port.
  void Connect(std::vector<std::string> options, const std::string& program) {
    options.insert(options.end(), {"--quiet", "--trace", ws.Path("trace.txt")});
    card = std::make_unique<Card>(ws, options);
    server = std::make_unique<drive::Ser2net>(ws.Path("ser2net.yaml"), card->Link(), GetParam());
    address = server->Address();
    console = std::make_unique<drive::Console>(
        VELMORA_CONSOLE_BIN, "", 2, std::vector<std::string>{"--port", "COM1=" + address});
    ASSERT_NO_FATAL_FAILURE(ChooseCom1(program));
  }
  std::unique_ptr<drive::Ser2net> server;
  std::string address;
};

// What the engineer types or edits goes out as the poll's commands do: that is left to the
// console's tests on a pseudo-terminal.
TEST_P(ThroughSer2net, TheCardIsFoundAndPolledAndAProgramArrivesByteForByteAtTheLineRate) {
  const std::string received = ws.Path("received.hex");
  ASSERT_NO_FATAL_FAILURE(Connect(
      {"--start", "linecard", "--baud", "57600", "--program-out", received}, "LINE CARD APP"));
  EXPECT_TRUE(CardTook(
      {"cpu", "help", "ree 0", "ree 4", "ree 5", "versions", "op_status", "line_state", "debug 1"},
      15s));
  ASSERT_TRUE(console->WaitFor("SfdText", "text", "31", 10s)) << console->Get("SfdText");
  const std::string program = MakeProgram(ws, 8000);  // about 4 s at 57600 baud
  console->Do("answer-file " + program);
  console->Do("click DownloadButton");
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Sending prog.hex ...", 15s));
  ASSERT_TRUE(console->WaitFor("DownloadStatus", "text", "Flashing prog.hex ...", 30s));
  ASSERT_TRUE(console->WaitFor("DownloadButton", "text", "Program Download", 15s));
  EXPECT_EQ(Slurp(received), Slurp(program));
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", "LINE CARD APP", 15s));
}

TEST_P(ThroughSer2net, AHeldLineIsInUseAndAServerStoppedMidPollIsOneBoxAndThenRefused) {
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "cpe"}, "CPE APP"));
  {
    drive::Console second(VELMORA_CONSOLE_BIN, "COM1=" + address);
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
  const double percent = CpuPercent(console->pid(), 2s);
  std::printf("network port: console CPU %.1f%% over 2 s after the server stopped\n", percent);
  EXPECT_LT(percent, 5.0) << "a busy loop";
  // Chosen by hand with nobody listening: a port that cannot be opened. (The server back, the
  // console reconnects by itself: the silent network's test.)
  console->Do("choose CommPortSelect 1");
  boxes = console->WaitForBoxes(2, 10s);
  EXPECT_EQ(boxes.back(), "COM1 (" + address + ") cannot be opened: Connection refused.");
  EXPECT_EQ(boxes.size(), 2u);
}

// A pulled cable, a VPN that drops, a terminal server without power: no reset, no answer.
// ser2net in one network namespace, the console in another, and the server's end of the link
// between them pulled down while the console polls.
using ThroughASilentNetwork = CardAndConsole;

TEST_F(ThroughASilentNetwork, TheLineIsLostWithinTenSecondsAndBackWithTheLink) {
  std::optional<drive::LinkedNamespaces> link;
  try {
    link.emplace();
  } catch (const std::runtime_error& e) {
    GTEST_SKIP() << "no network namespaces on this machine: " << e.what();
  }
  card = std::make_unique<Card>(ws, std::vector<std::string>{"--start", "cpe", "--quiet"});
  drive::Ser2net server(ws.Path("ser2net.yaml"), card->Link(), "tcp", 4001, {}, link->Server(),
                        true);
  console = std::make_unique<drive::Console>(VELMORA_CONSOLE_BIN, "COM1=" + server.Address(), 2,
                                             std::vector<std::string>{}, link->Client().wrapper);
  ASSERT_NO_FATAL_FAILURE(ChooseCom1("CPE APP"));
  link->ServerLink(false);
  const auto down = std::chrono::steady_clock::now();
  const auto boxes = console->WaitForBoxes(1, 10s);
  std::printf("silent network: the lost-port box %.1f s after the link went down\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - down).count());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("The connection to COM1 (tcp://169.254.77.1:4001) was lost: ", 0), 0u)
      << boxes[0];
  EXPECT_TRUE(console->CloseBox());
  EXPECT_EQ(console->Get("CommPortSelect"), "DISCONNECT");
  link->ServerLink(true);
  EXPECT_TRUE(console->WaitFor("ProgramText", "text", "CPE APP", 20s));
  EXPECT_EQ(console->Boxes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Schemes, ThroughSer2net, ::testing::Values("tcp", "rfc2217"),
                         [](const auto& scheme) { return std::string(scheme.param); });

}  // namespace
}  // namespace velmora::e2e
