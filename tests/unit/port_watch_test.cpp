// Ports that come and go: the list follows the devices, numbers stay with their devices, and
// a lost port is chosen again when its own device returns.
#include "serial/port_watch.h"

#include <gtest/gtest.h>

#include "platform/device_events.h"
#include "serial/port_setup.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

using A = FakeSerialPort::Availability;

// A console on fakes whose table is COM1=/dev/ttyUSB0 (present at start-up), or with a fixed
// table also COM3=/tmp/card (absent at start-up).
struct Rig : ConsoleOnFakes {
  explicit Rig(bool fixed = false) {
    fake.port.SetPort(1, A::Free, "/dev/ttyUSB0");
    PortTable table{{1, "/dev/ttyUSB0"}};
    if (fixed) table[3] = "/tmp/card";
    UsePortTable(c, table, fixed);
    Form_Load(c);
    for (int n = 2; n <= 8; ++n) fake.port.SetPort(n, A::Free);
    WatchPorts(c, watch);
  }

  // "+path#id@place" plugs, "-path#id@place" pulls, "lose" loses the open port, "drain" runs
  // deferred work (the box), "choose N" is the engineer's choice of entry N, "busy N" / "free N"
  // set port N, "close" closes the window.
  void Run(const std::string& steps) {
    std::istringstream in(steps);
    for (std::string step; std::getline(in, step, ',');) {
      const std::string body = step.substr(1);
      const auto hash = body.find('#'), at = body.find('@');
      const DeviceInfo d{body.substr(0, std::min(hash, at)),
                         hash == std::string::npos ? "" : body.substr(hash + 1, at - hash - 1),
                         at == std::string::npos ? "" : body.substr(at + 1)};
      const auto arg = [&step] { return std::stoi(step.substr(step.find(' ') + 1)); };
      if (step[0] == '+') watch.Plug(d);
      if (step[0] == '-') watch.Pull(d);
      if (step == "lose" || step == "drain") Script(step == "lose" ? "@lose" : "@deferred");
      if (step.rfind("choose ", 0) == 0) ui.CommPortSelect.UserChoose(arg());
      if (step.rfind("busy ", 0) == 0) fake.port.SetPort(arg(), A::Busy);
      if (step.rfind("free ", 0) == 0) fake.port.SetPort(arg(), A::Free);
      if (step == "close") UnloadMainWindow(c);
    }
  }

  std::string List() const {
    std::string texts;
    for (const auto& item : ui.CommPortSelect.Items()) texts += item.text + " ";
    return texts;
  }
};

TEST(PortWatch, ListFollowsDevicesAndNumbersStayWithThem) {
  struct Row {
    const char* name;
    bool fixed;
    std::string steps;
    std::string list;
  } rows[] = {
      {"a device that leaves is no longer listed", false, "+/dev/ttyUSB1,-/dev/ttyUSB0",
       "DISCONNECT COM2 "},
      {"an absent device keeps its number; a newcomer takes the lowest free one", false,
       "+/dev/ttyUSB1,-/dev/ttyUSB1,+/dev/ttyUSB2,+/dev/ttyUSB1", "DISCONNECT COM1 COM2 COM3 "},
      {"eight numbers at most", false,
       "+/dev/ttyUSB1,+/dev/ttyUSB2,+/dev/ttyUSB3,+/dev/ttyUSB4,+/dev/ttyUSB5,+/dev/ttyUSB6,"
       "+/dev/ttyUSB7,+/dev/ttyUSB8",
       "DISCONNECT COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 "},
      {"a table's path is listed under its number once it exists; other devices are not", true,
       "+/tmp/card,+/dev/ttyUSB1", "DISCONNECT COM1 COM3 "},
      {"the open port stays listed while its device is away", false, "choose 1,-/dev/ttyUSB0",
       "DISCONNECT COM1 "},
      {"and keeps its number and names its new path when it returns under one", false,
       "choose 1,-/dev/ttyUSB0#a,+/dev/ttyUSB3#a", "DISCONNECT COM1 "},
      {"and goes once another entry is chosen", false, "choose 1,-/dev/ttyUSB0,choose 0",
       "DISCONNECT "},
      {"twins sharing a by-id name keep their own numbers, told apart by their places", false,
       "+/dev/ttyUSB1#x@p2,-/dev/ttyUSB0#x@p1,-/dev/ttyUSB1#x@p2,+/dev/ttyUSB1#x@p2",
       "DISCONNECT COM2 "},
      {"a table's path taken by a device at another place is not its port", true,
       "+/tmp/card@p1,-/tmp/card@p1,+/tmp/card@p2", "DISCONNECT COM1 "},
  };
  for (const auto& row : rows) {
    Rig rig(row.fixed);
    rig.Run(row.steps);
    EXPECT_EQ(rig.List(), row.list) << row.name;
    EXPECT_TRUE(rig.fake.messages.shown.empty()) << row.name;
    // Each entry's tool tip names the device behind it now.
    for (const auto& item : rig.ui.CommPortSelect.Items())
      EXPECT_EQ(item.toolTip, item.data ? PortDevice(rig.c, item.data) : "") << row.name;
  }
}

TEST(PortWatch, LostPortReopensWhenItsOwnDeviceReturnsWhileOnDisconnect) {
  struct Row {
    const char* name;
    std::string steps;
    int open;  // the port open at the end, 0: none
  } rows[] = {
      {"the same path returns", "drain,-/dev/ttyUSB0,+/dev/ttyUSB0", 1},
      {"the same adapter under a new path", "drain,-/dev/ttyUSB0#a,+/dev/ttyUSB3#a", 1},
      {"back before the loss was handled", "-/dev/ttyUSB0,+/dev/ttyUSB0,drain,drain", 1},
      {"another device arrives", "drain,-/dev/ttyUSB0#a,+/dev/ttyUSB0#b", 0},
      {"its twin of the same by-id name returns",
       "+/dev/ttyUSB1#x@p2,drain,-/dev/ttyUSB0#x@p1,-/dev/ttyUSB1#x@p2,+/dev/ttyUSB1#x@p2", 0},
      {"the engineer chose DISCONNECT meanwhile", "drain,choose 0,-/dev/ttyUSB0,+/dev/ttyUSB0", 0},
      {"the engineer chose another port meanwhile", "drain,+/dev/ttyUSB1,choose 2,+/dev/ttyUSB0",
       2},
      {"the window was closed", "drain,close,+/dev/ttyUSB0", 0},
      {"a failed reconnect says nothing and waits for the next return",
       "drain,busy 1,+/dev/ttyUSB0,-/dev/ttyUSB0,free 1,+/dev/ttyUSB0", 1},
  };
  for (const auto& row : rows) {
    Rig rig;
    rig.Run("choose 1,lose," + row.steps);
    EXPECT_EQ(rig.fake.port.IsOpen() ? rig.fake.port.CommPort() : 0, row.open) << row.name;
    // One box, the loss's own; a failed reconnect adds none.
    ASSERT_EQ(rig.fake.messages.shown.size(), 1u) << row.name;
    EXPECT_EQ(rig.fake.messages.shown[0],
              "Device disconnected\n\nThe console will reconnect to COM1 by itself when the device "
              "returns.");
    if (row.open == 1) {
      EXPECT_EQ(rig.ui.CommPortSelect.ListIndex(), rig.s.PortListIndex) << row.name;
      EXPECT_EQ(rig.ui.CommPortSelect.ItemText(rig.s.PortListIndex), "COM1") << row.name;
    }
  }
}

// udev's events, made up (no udev runs here): what each tells a watch of a table's by-id path,
// and a watch of all serial devices. Adapters without serial numbers share the by-id name.
TEST(DeviceEvents, NameTheWatchedPathAndGiveEachDeviceItsPlace) {
  const std::string twins = "/dev/serial/by-id/usb-1a86_USB2.0-Serial-if00-port0",
                    own = "/dev/serial/by-id/usb-FTDI_FT232R_A10K-if00-port0",
                    at = "/dev/serial/by-path/";
  DeviceEvents table({{twins, "/dev/ttyUSB0"}}), all;
  const std::tuple<DeviceEvent, std::string, std::string> rows[] = {
      {{false, "/dev/ttyUSB0", {twins, at + "p1"}, "p1", false},
       "-" + twins + " @" + at + "p1",
       "-/dev/ttyUSB0 @" + at + "p1"},
      {{true, "/dev/ttyUSB1", {twins, at + "p2"}, "p2", false},
       "+" + twins + " @" + at + "p2",
       "+/dev/ttyUSB1 @" + at + "p2"},
      // A removal that names no links: the node it came with still names the path.
      {{false, "/dev/ttyUSB1", {}, "p2", false}, "-" + twins + " @p2", "-/dev/ttyUSB1 @p2"},
      {{true, "/dev/ttyUSB2", {own}, "p3", true}, "", "+/dev/ttyUSB2 #" + own + " @p3"},
  };
  const auto seen = [](const std::vector<DeviceReport>& reports) {
    std::string text;
    for (const auto& [appeared, d] : reports)
      text += (appeared ? "+" : "-") + d.path + (d.id.empty() ? "" : " #" + d.id) + " @" + d.place;
    return text;
  };
  for (const auto& [event, forTable, forAll] : rows) {
    EXPECT_EQ(seen(table.Take(event)), forTable) << forAll;
    EXPECT_EQ(seen(all.Take(event)), forAll);
  }
}

// The Ports dialog's table taken on while COM3 is open: entries before it come and go, COM3
// keeps its device and connection, and no click runs.
TEST(PortWatch, AChangedTableMovesTheListButNeverThePortInUse) {
  Rig rig(true);
  rig.Run("+/tmp/card,choose 2");
  const int opens = rig.fake.port.opens;
  ChangePortTable(rig.c, {{2, "tcp://cabinet-7:4001"}, {3, "/tmp/other"}, {5, "/dev/gone"}},
                  [](const std::string& device) { return device != "/dev/gone"; });
  EXPECT_EQ(rig.List(), "DISCONNECT COM2 COM3 ");
  EXPECT_EQ(rig.ui.CommPortSelect.ListIndex(), 2);
  EXPECT_EQ(rig.s.PortListIndex, 2);
  EXPECT_EQ(PortDevice(rig.c, 3), "/tmp/card");
  EXPECT_EQ(rig.fake.port.IsOpen() ? rig.fake.port.CommPort() : 0, 3);
  EXPECT_EQ(rig.fake.port.opens, opens);
  rig.Run("+/dev/gone");
  EXPECT_EQ(rig.List(), "DISCONNECT COM2 COM3 COM5 ");
}

}  // namespace
}  // namespace velmora::testing
