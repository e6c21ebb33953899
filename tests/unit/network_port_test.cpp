// Cards behind a terminal server: the Telnet layer, the pacing of the far line, and an opening
// that fails after the choice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/lifecycle.h"
#include "serial/port_switch.h"
#include "serial/remote_line.h"
#include "serial/telnet_client.h"
#include "support/fakes.h"

namespace velmora::testing {
namespace {

std::string Bytes(std::initializer_list<int> codes) {
  std::string s;
  for (int code : codes) s += static_cast<char>(code);
  return s;
}

const std::string kSettings =
    Bytes({255, 250, 44, 1, 0, 0, 0xE1, 0x00, 255, 240}) +  // 57600 baud
    Bytes({255, 250, 44, 2, 8, 255, 240}) + Bytes({255, 250, 44, 3, 1, 255, 240}) +
    Bytes({255, 250, 44, 4, 1, 255, 240}) + Bytes({255, 250, 44, 5, 1, 255, 240});

TEST(Telnet, TheClientOffersBinaryAndTheComPortOptionAndAnswersEachRequestOnce) {
  const struct {
    const char* name;
    std::string server;
    std::string reply;
  } rows[] = {
      // A terminal server's opening, as ser2net sends it.
      {"server's opening", Bytes({255, 251, 3,   255, 253, 3,   255, 251, 1,   255, 254,
                                  1,   255, 253, 0,   255, 251, 0,   255, 253, 44}),
       Bytes({255, 253, 3, 255, 251, 3, 255, 254, 1}) + kSettings},
      {"the option refused: no settings", Bytes({255, 254, 44}), ""},
      {"unknown options refused", Bytes({255, 253, 24, 255, 251, 99}),
       Bytes({255, 252, 24, 255, 254, 99})},
      {"a request repeated is answered once", Bytes({255, 251, 3, 255, 251, 3}),
       Bytes({255, 253, 3})},
      {"the server stops binary", Bytes({255, 251, 0, 255, 252, 0}), Bytes({255, 254, 0})},
      {"acknowledgements and commands without an answer",
       Bytes({255, 253, 0, 255, 251, 0, 255, 241, 255, 249, 255, 240, 255, 7}), ""},
  };
  for (const auto& row : rows) {
    TelnetClient client;
    EXPECT_EQ(client.Start(), Bytes({255, 251, 0, 255, 253, 0, 255, 251, 44})) << row.name;
    std::string line, reply;
    client.Receive(row.server, line, reply);
    EXPECT_EQ(reply, row.reply) << row.name;
    EXPECT_EQ(line, "") << row.name;
    EXPECT_FALSE(client.Broken()) << row.name;
  }
}

TEST(RemoteLine, WaitingDrainsAtTheLineRateAndIsNeverBelowWhatTheSocketHolds) {
  RemoteLineQueue q;
  const struct {
    std::int64_t atMs;
    std::int64_t wrote;
    std::int64_t socketHolds;
    std::int64_t waiting;
  } rows[] = {
      {1000, 2000, 0, 2000},  // the burst
      {1250, 0, 0, 560},      // 1440 bytes left the line in 250 ms
      {1250, 0, 900, 900},    // still in the socket: not on the line yet
      {1250, 1000, 0, 1560},  // the next block
      {1521, 0, 0, 0},        // 271 ms: the line ran dry
      {5000, 0, 0, 0},        // an idle line does not go negative
      {5000, 1000, 0, 1000},  // nor does it lend credit to the next write
  };
  for (const auto& row : rows) {
    if (row.wrote) q.Wrote(row.wrote, row.atMs);
    EXPECT_EQ(q.Waiting(row.atMs, row.socketHolds), row.waiting) << "at " << row.atMs << " ms";
  }
}

// A device watch that also asks servers: the address it asks now, if any.
struct ProbingWatch : FakeDeviceWatch {
  void Probe(const std::string& path) override { probing = path; }
  void StopProbing() override { probing.clear(); }
  std::string probing;
};

// The console on a switch between a local port and a network port, both fakes: COM1 local,
// COM2 behind a terminal server.
struct SwitchRig {
  FakePlatform fake;
  FakeSerialPort network;
  PortSwitch port{fake.port, network};
  Platform p = fake.platform();
  Console c{{port, p.TransmitTimer, p.DownloadTimer, p.files, p.Dialog, p.messages, p.pump}};
  ProbingWatch watch;
  SwitchRig() {
    fake.port.SetPort(1, FakeSerialPort::Availability::Free);
    fake.port.SetPort(2, FakeSerialPort::Availability::Missing, "tcp://cabinet-7:4001");
    network.SetPort(2, FakeSerialPort::Availability::Free);
    UsePortTable(c, {{1, "/dev/fake1"}, {2, "tcp://cabinet-7:4001"}}, true);
    Form_Load(c);
    WatchPorts(c, watch);
  }
  void Refuse() {  // the connection fails: the port closes and says so
    network.Close();
    network.onOpenFailed({kCommErrorCannotOpen, "Connection refused"});
    c.RunDeferred();
  }
};

TEST(NetworkPortOpening, AFailedConnectionGivesTheOpenFailureBoxUnlessTheEngineerChoseAgain) {
  SwitchRig rig;
  auto& list = rig.c.ui.CommPortSelect;
  ASSERT_EQ(list.ListCount(), 3);
  EXPECT_EQ(list.Items()[2].toolTip, "tcp://cabinet-7:4001");
  list.UserChoose(2);
  EXPECT_TRUE(rig.network.IsOpen());
  EXPECT_EQ(rig.fake.port.opens, 1);  // the start-up scan only
  rig.Refuse();
  EXPECT_EQ(rig.fake.messages.shown, std::vector<std::string>{"COM2 (tcp://cabinet-7:4001) "
                                                              "cannot be opened: Connection "
                                                              "refused."});
  EXPECT_EQ(list.ListIndex(), 0);
  EXPECT_EQ(rig.c.state.PortListIndex, 0);
  // Chosen again, then COM1 before the connection failed: no box, COM1 stays.
  list.UserChoose(2);
  list.UserChoose(1);
  rig.Refuse();
  rig.network.onLost("reset");  // nor does a loss of the port no longer in use
  rig.c.RunDeferred();
  EXPECT_TRUE(rig.fake.port.IsOpen());
  EXPECT_EQ(rig.fake.messages.shown.size(), 1u);
  EXPECT_EQ(list.ListIndex(), 1);
}

TEST(NetworkPortOpening, ALostServerIsAskedUntilItAnswersAndThenReopenedQuietly) {
  SwitchRig rig;
  auto& list = rig.c.ui.CommPortSelect;
  list.UserChoose(2);
  rig.network.Lose("The connection was lost.");
  rig.c.RunDeferred();
  EXPECT_EQ(rig.fake.messages.shown,
            std::vector<std::string>{"The connection was lost.\n\nThe console will reconnect to "
                                     "COM2 by itself when its server accepts again."});
  EXPECT_EQ(rig.watch.probing, "tcp://cabinet-7:4001");
  rig.watch.Plug({"tcp://cabinet-7:4001", {}, {}});  // the server answers
  EXPECT_TRUE(rig.network.IsOpen());
  EXPECT_EQ(list.ListIndex(), 2);
  EXPECT_EQ(rig.watch.probing, "");
  // The reopening fails after all: no box, and the server is asked again.
  rig.Refuse();
  EXPECT_EQ(rig.fake.messages.shown.size(), 1u);
  EXPECT_EQ(list.ListIndex(), 0);
  EXPECT_EQ(rig.watch.probing, "tcp://cabinet-7:4001");
}

}  // namespace
}  // namespace velmora::testing
