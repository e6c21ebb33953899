// The port table from the command line, VELMORA_PORTS, the settings file and the system: the
// rules every entry follows, the precedence, and the settings file written back.
#include "serial/port_setup.h"

#include <gtest/gtest.h>

namespace velmora::testing {
namespace {

TEST(PortEntry, EverySourceRefusesTheSameEntriesForTheSameReasons) {
  const struct {
    const char* entry;
    const char* fault;
  } rows[] = {
      {"COM1=/tmp/card", ""},
      {" com8 = rfc2217://10.0.0.5:65535", ""},
      {"COM5=tcp://cabinet-7:4001", ""},
      {"COM5=rfc2217://[::1]:2217", ""},
      {"COM0=/a", "the port must be COM1 to COM8"},
      {"COM9=/a", "the port must be COM1 to COM8"},
      {"COM2", "not of the form COMn=ADDRESS"},
      {"COM4=", "no device or address"},
      {"COM4=/dev/tty\x1b[0m", "it holds a control character"},
      {"COM5=tcp://cabinet-7", "the address has no port (HOST:PORT)"},
      {"COM5=rfc2217://[::1]", "the address has no port (HOST:PORT)"},
      {"COM5=tcp://:4001", "the address has no host"},
      {"COM5=tcp://cabinet-7:0", "the port must be a number from 1 to 65535"},
      {"COM5=tcp://cabinet-7:40x1", "the port must be a number from 1 to 65535"},
      {"COM5=tcp://user@cabinet-7:4001", "only HOST:PORT may follow the scheme"},
      {"COM5=tcp://::1:4001", "an IPv6 address goes in brackets ([::1]:PORT)"},
      {"COM5=telnet://cabinet-7:23", "the address must begin with tcp:// or rfc2217://"},
      {"COM6=replay:///r.jsonl?speed=4", ""},
      {"COM6=replay:///r.jsonl?speed=0", "a replay is replay://PATH, ?speed=N or ?speed=max"},
  };
  for (const auto& row : rows) {
    std::string fault;
    EXPECT_EQ(ParsePortEntry(row.entry, &fault).has_value(), !*row.fault) << row.entry;
    EXPECT_EQ(fault, row.fault) << row.entry;
  }
}

// Each entry as "COMn=DEVICE (source)", then each fault on a line of its own.
std::string Shown(const PortSetup& setup) {
  std::string text;
  for (const auto& [port, device] : setup.table)
    text += "COM" + std::to_string(port) + "=" + device + " (" +
            PortOriginName(setup.origin.at(port)) + ") ";
  for (const auto& fault : setup.faults) text += "\n" + fault;
  return text;
}

TEST(PortSetup, CommandLineOverEnvironmentOverSettingsFileOverSystem) {
  // Adapters first, eight at most.
  std::vector<SystemPort> system = {{"/dev/ttyS0", false}, {"/dev/ttyUSB0", true}};
  for (int n = 1; n < 8; ++n) system.push_back({"/dev/ttyS" + std::to_string(n), false});
  const std::string bySystem =
      "COM1=/dev/ttyUSB0 (system) COM2=/dev/ttyS0 (system) COM3=/dev/ttyS1 (system) "
      "COM4=/dev/ttyS2 (system) COM5=/dev/ttyS3 (system) COM6=/dev/ttyS4 (system) "
      "COM7=/dev/ttyS5 (system) COM8=/dev/ttyS6 (system) ";
  const std::string file = "/home/eng/.config/velmora/velmora.conf";
  const struct {
    std::vector<std::string> options;
    std::optional<std::string> environment;
    std::optional<std::string> text;
    std::string error;
    std::string shown;
    // clang-format off
  } rows[] = {
      {{}, {}, {}, "", bySystem},
      {{}, "", {}, "", ""},
      {{}, {}, "; nothing yet\n[Ports]\n", "", bySystem},
      {{}, {}, "[Ports]\r\n; bench\r\nCOM1 = /dev/serial/by-id/usb-FTDI-if00-port0\r\n"
               "COM3=\"rfc2217://cabinet-7:4001\" ; the cabinet\r\n[Window]\r\nCOM4=/x\r\n", "",
       "COM1=/dev/serial/by-id/usb-FTDI-if00-port0 (settings file) "
       "COM3=rfc2217://cabinet-7:4001 (settings file) "},
      {{"COM2=tcp://bench:4001"}, "COM2=/tmp/card,COM3=/tmp/card3",
       "[Ports]\nCOM2=/dev/b\nCOM3=/dev/c\nCOM4=/dev/d\n", "",
       "COM2=tcp://bench:4001 (command line) COM3=/tmp/card3 (VELMORA_PORTS) "
       "COM4=/dev/d (settings file) "},
      {{}, "COM5=/e,COM9=/b,,COM5=/f", {}, "",
       "COM5=/e (VELMORA_PORTS) \nVELMORA_PORTS: COM9=/b: the port must be COM1 to COM8"
       "\nVELMORA_PORTS: COM5=/f: COM5 is given twice"},
      {{}, {}, "COM1=/a\n[Ports\n[Ports]\njunk\nCOM2=\"/b\nCOM3=/c,/d\nCOM4=tcp://h\nCOM6=/e\nCOM6=/f\n", "",
       "COM6=/e (settings file) "
       "\n" + file + ", line 1: COM1=/a: outside the [Ports] section"
       "\n" + file + ", line 2: [Ports: a section's name ends with ]"
       "\n" + file + ", line 4: junk: not of the form KEY=VALUE"
       "\n" + file + ", line 5: COM2=\"/b: a quote is not closed"
       "\n" + file + ", line 6: COM3=/c,/d: a list of values (an address holding a comma goes in quotes)"
       "\n" + file + ", line 7: COM4=tcp://h: the address has no port (HOST:PORT)"
       "\n" + file + ", line 9: COM6=/f: COM6 is given twice"},
      {{}, "COM1=/tmp/card", std::string("[Ports]\nCOM2=/a\0", 16), "",
       "COM1=/tmp/card (VELMORA_PORTS) \n" + file + ", line 1: not a settings file (it holds binary data)"},
      {{}, {}, {}, "cannot be read: Permission denied",
       bySystem + "\n" + file + ": cannot be read: Permission denied"},
  };
  // clang-format on
  for (const auto& row : rows) {
    const PortSetup setup =
        ChoosePorts({row.options, row.environment, file, row.text, row.error, system});
    EXPECT_EQ(Shown(setup), row.shown) << row.text.value_or(row.environment.value_or(""));
  }
  // The box names six faults at most, and counts the rest.
  EXPECT_EQ(PortFaultsText(std::vector<std::string>(6, "f")).find("more"), std::string::npos);
  EXPECT_EQ(PortFaultsText(std::vector<std::string>(7, "f")),
            "These port entries are left out; the console uses the others.\n"
            "\nf\nf\nf\nf\nf\nf\n... and 1 more.");
}

TEST(PortsFile, SavingReplacesTheTablesLinesAndKeepsEveryOtherAsItIs) {
  const PortTable table{{1, "/dev/serial/by-id/usb-FTDI-if00-port0"}, {3, "/tmp/a;b"}};
  const std::string entries = "COM1=/dev/serial/by-id/usb-FTDI-if00-port0\nCOM3=\"/tmp/a;b\"\n";
  const std::pair<std::string, std::string> rows[] = {
      {"", "[Ports]\n" + entries},
      {"# mine\n[Window]\nwidth=3", "# mine\n[Window]\nwidth=3\n\n[Ports]\n" + entries},
      {"COM2=/x\n[Ports]\n; bench\nCOM1=/old\n; cabinet\nCOM5=tcp://h:1\n[Window]\nwidth=3\n",
       "[Ports]\n; bench\n" + entries + "; cabinet\n[Window]\nwidth=3\n"},
  };
  for (const auto& [old, written] : rows) {
    EXPECT_EQ(PortsFileText(old, table), written) << old;
    EXPECT_EQ(ReadPortsFile(written).table, table) << old;
  }
}

}  // namespace
}  // namespace velmora::testing
