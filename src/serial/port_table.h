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

// "COM1=/dev/ttyUSB0,COM3=/tmp/card,COM5=tcp://cabinet-7:4001": malformed entries (a network
// address among them), numbers outside 1..8 and repeated numbers are left out, so that port is
// simply absent.
PortTable ParsePortTable(std::string_view text);

// An explicit table, when given, replaces the system's.
PortTable ChoosePortTable(const std::optional<std::string>& explicitTable,
                          const std::vector<SystemPort>& ports);

}  // namespace velmora
