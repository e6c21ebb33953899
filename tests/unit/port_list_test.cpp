// The port list, opening the chosen port, and the table of devices behind COM1 to COM8.
#include <gtest/gtest.h>

#include "serial/port_list.h"
#include "serial/port_table.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

using A = FakeSerialPort::Availability;

std::vector<std::pair<std::string, std::int32_t>> Entries(const ComboBox& box) {
  std::vector<std::pair<std::string, std::int32_t>> entries;
  for (const auto& item : box.Items()) entries.emplace_back(item.text, item.data);
  return entries;
}

TEST_F(ConsoleTest, ListHoldsFreeAndBusyPortsWithoutGapsAndNothingChosen) {
  fake.port.SetPort(1, A::Free, "/dev/ttyUSB0");
  fake.port.SetPort(2, A::Busy);
  fake.port.SetPort(3, A::Free);
  fake.port.SetPort(5, A::Missing);
  Form_Load(c);
  EXPECT_EQ(Entries(ui.CommPortSelect),
            (std::vector<std::pair<std::string, std::int32_t>>{
                {"DISCONNECT", 0}, {"COM1", 1}, {"COM2", 2}, {"COM3", 3}}));
  EXPECT_EQ(ui.CommPortSelect.ListIndex(), -1);
  EXPECT_EQ(s.PortListIndex, -1);
  EXPECT_EQ(ui.CommPortSelect.Items()[1].toolTip, "/dev/ttyUSB0");
  // Free ports were opened and closed once; none stays open.
  EXPECT_EQ(fake.port.opens, 2);
  EXPECT_EQ(fake.port.closes, 2);
  EXPECT_FALSE(fake.port.IsOpen());
}

TEST_F(ConsoleTest, NoSerialPortLeavesOnlyDisconnect) {
  Form_Load(c);
  EXPECT_EQ(Entries(ui.CommPortSelect),
            (std::vector<std::pair<std::string, std::int32_t>>{{"DISCONNECT", 0}}));
}

TEST_F(ConsoleTest, DisconnectRightAfterStartAppliesUnknownOnceThenDoesNothing) {
  Form_Load(c);
  ui.ProgramText.SetText("changed");
  ui.CommPortSelect.UserChoose(0);
  EXPECT_EQ(s.PortListIndex, 0);
  EXPECT_EQ(ui.ProgramText.Text(), "UNKNOWN");
  EXPECT_FALSE(fake.port.IsOpen());

  ui.ProgramText.SetText("changed");
  ui.CommPortSelect.UserChoose(0);
  EXPECT_EQ(ui.ProgramText.Text(), "changed");
}

TEST_F(ConsoleTest, ChoosingAnotherPortClosesTheFirstForgetsTheCardAndOpensTheSecond) {
  fake.port.SetPort(1, A::Free);
  fake.port.SetPort(3, A::Free);
  Form_Load(c);
  ui.CommPortSelect.UserChoose(1);
  ASSERT_TRUE(fake.port.IsOpen());
  s.ProgramType = ProgramType::LineCardApp;
  s.RxBuffer = "partial";

  ui.CommPortSelect.UserChoose(2);

  EXPECT_TRUE(fake.port.IsOpen());
  EXPECT_EQ(fake.port.CommPort(), 3);
  EXPECT_EQ(s.ProgramType, ProgramType::Unknown);
  EXPECT_EQ(s.RxBuffer, "");
  EXPECT_EQ(s.PortListIndex, 2);
}

TEST_F(ConsoleTest, ChoosingTheEntryInForceKeepsThePortAndTheProgram) {
  fake.port.SetPort(1, A::Free);
  Form_Load(c);
  ui.CommPortSelect.UserChoose(1);
  s.ProgramType = ProgramType::CpeApp;
  const int opens = fake.port.opens;

  ui.CommPortSelect.UserChoose(1);

  EXPECT_EQ(fake.port.opens, opens);
  EXPECT_TRUE(fake.port.IsOpen());
  EXPECT_EQ(s.ProgramType, ProgramType::CpeApp);
}

TEST_F(ConsoleTest, APortHeldElsewhereGivesOneWarningAndLeavesTheConsoleDisconnected) {
  fake.port.SetPort(1, A::Free);
  fake.port.SetPort(2, A::Busy);
  Form_Load(c);
  ui.CommPortSelect.UserChoose(1);
  bool disconnectedWhileShown = false;
  fake.messages.whileShown = [&](const std::string&) {
    disconnectedWhileShown = !fake.port.IsOpen() && s.ProgramType == ProgramType::Unknown;
  };

  ui.CommPortSelect.UserChoose(2);

  EXPECT_EQ(fake.messages.shown,
            (std::vector<std::string>{"COM2 (/dev/fake2) is in use by another program."}));
  EXPECT_TRUE(disconnectedWhileShown);
  EXPECT_EQ(s.PortListIndex, 0);
  EXPECT_EQ(ui.CommPortSelect.ListIndex(), 0);
  EXPECT_FALSE(fake.port.IsOpen());

  // Once the other program lets it go, the port can be chosen.
  fake.port.SetPort(2, A::Free);
  ui.CommPortSelect.UserChoose(2);
  EXPECT_TRUE(fake.port.IsOpen());
  EXPECT_EQ(fake.messages.shown.size(), 1u);
}

TEST_F(ConsoleTest, APortThatVanishedAfterTheScanFailsWithItsOwnDescription) {
  fake.port.SetPort(4, A::Free);
  Form_Load(c);
  fake.port.SetPort(4, A::Missing);
  ui.CommPortSelect.UserChoose(1);
  EXPECT_EQ(
      fake.messages.shown,
      (std::vector<std::string>{"COM4 (/dev/fake4) cannot be opened: No such file or directory."}));
  EXPECT_EQ(ui.CommPortSelect.ListIndex(), 0);
}

TEST(PortTable, ExplicitTableReplacesTheSystemsAndSkipsUnusableEntries) {
  const std::vector<SystemPort> system = {{"/dev/ttyS0", false}, {"/dev/ttyUSB0", true}};
  EXPECT_EQ(ChoosePortTable(std::string("COM1=/dev/ttyUSB0, COM3 = /tmp/card"), system),
            (PortTable{{1, "/dev/ttyUSB0"}, {3, "/tmp/card"}}));
  EXPECT_EQ(ChoosePortTable(std::string(""), system), PortTable{});
  EXPECT_EQ(ParsePortTable("COM0=/a,COM9=/b,COMx=/c,COM2,COM4=,=/d,COM5=/e,COM5=/f"),
            (PortTable{{5, "/e"}}));
}

TEST(PortTable, SystemPortsPutAdaptersFirstAndStopAtEight) {
  std::vector<SystemPort> system = {{"/dev/ttyS0", false}, {"/dev/ttyS1", false},
                                    {"/dev/ttyACM0", true}, {"/dev/ttyUSB0", true}};
  for (int i = 2; i < 10; ++i) system.push_back({"/dev/ttyS" + std::to_string(i), false});
  const PortTable table = ChoosePortTable(std::nullopt, system);
  ASSERT_EQ(table.size(), 8u);
  EXPECT_EQ(table.at(1), "/dev/ttyACM0");
  EXPECT_EQ(table.at(2), "/dev/ttyUSB0");
  EXPECT_EQ(table.at(3), "/dev/ttyS0");
  EXPECT_EQ(table.at(8), "/dev/ttyS5");
}

}  // namespace
}  // namespace velmora::testing
