// Which device stands behind each of the port numbers COM1 to COM8.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

constexpr int kMaxPorts = 8;

using PortTable = std::map<int, std::string>;  // port number 1..8 -> device path or address

struct SystemPort {
  std::string device;    // /dev/ttyUSB0
  bool adapter = false;  // a USB or ACM adapter, which is what a field engineer plugs in
};

// The serial devices the system reports: adapters first, then on-board ports, at most eight,
// each group in the order given.
PortTable DefaultPortTable(const std::vector<SystemPort>& ports);

// The rules of an entry, the same wherever the table comes from (the environment, the settings
// file, the command line, the Ports dialog).
struct PortEntry {
  int port = 0;
  std::string device;
};
// What is wrong with what an entry leads to; empty when nothing is.
std::string PortDeviceFault(std::string_view device);
// "COM3=/tmp/card"; nothing when it breaks a rule, and then why in *fault.
std::optional<PortEntry> ParsePortEntry(std::string_view text, std::string* fault);

// "COM1=/dev/ttyUSB0,COM3=/tmp/card,COM5=tcp://cabinet-7:4001": a bad entry and a number given
// again are left out, so that port is simply absent; each is added to *faults as "ENTRY: WHY".
PortTable ParsePortTable(std::string_view text, std::vector<std::string>* faults = nullptr);

}  // namespace velmora
