// Mapping the console's port numbers to serial devices.
#include "serial/port_table.h"

#include <charconv>

#include "recorder/replay_port.h"
#include "serial/network_address.h"

namespace velmora {
namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

std::optional<int> PortNumber(std::string_view name) {
  name = Trim(name);
  if (name.size() < 4 || (name.substr(0, 3) != "COM" && name.substr(0, 3) != "com")) return {};
  int n = 0;
  const auto digits = name.substr(3);
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc{} || end != digits.data() + digits.size()) return {};
  if (n < 1 || n > kMaxPorts) return {};
  return n;
}

}  // namespace

PortTable DefaultPortTable(const std::vector<SystemPort>& ports) {
  PortTable table;
  int next = 1;
  for (bool adapters : {true, false})
    for (const auto& p : ports)
      if (p.adapter == adapters && next <= kMaxPorts) table[next++] = p.device;
  return table;
}

PortTable ParsePortTable(std::string_view text) {
  PortTable table;
  while (!text.empty()) {
    const auto comma = text.find(',');
    const auto entry = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    const auto eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    const auto number = PortNumber(entry.substr(0, eq));
    const auto device = Trim(entry.substr(eq + 1));
    if (!number || device.empty() || table.count(*number)) continue;
    if (IsNetworkEntry(device) && !ParseNetworkAddress(device) && !ParseReplayAddress(device))
      continue;
    table[*number] = std::string(device);
  }
  return table;
}

PortTable ChoosePortTable(const std::optional<std::string>& explicitTable,
                          const std::vector<SystemPort>& ports) {
  return explicitTable ? ParsePortTable(*explicitTable) : DefaultPortTable(ports);
}

}  // namespace velmora
