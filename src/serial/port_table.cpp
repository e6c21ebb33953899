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

std::string PortDeviceFault(std::string_view device) {
  if (device.empty()) return "no device or address";
  for (const char ch : device)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) return "it holds a control character";
  std::string fault;
  if (device.starts_with("replay://")) {
    if (!ParseReplayAddress(device)) fault = "a replay is replay://PATH, ?speed=N or ?speed=max";
  } else if (IsNetworkEntry(device)) {
    ParseNetworkAddress(device, &fault);
  }
  return fault;
}

std::optional<PortEntry> ParsePortEntry(std::string_view text, std::string* fault) {
  const auto eq = text.find('=');
  const auto number = PortNumber(text.substr(0, eq));
  std::string why = eq == std::string_view::npos ? "not of the form COMn=ADDRESS"
                    : !number                    ? "the port must be COM1 to COM8"
                                                 : PortDeviceFault(Trim(text.substr(eq + 1)));
  if (!why.empty()) {
    if (fault) *fault = std::move(why);
    return std::nullopt;
  }
  return PortEntry{*number, std::string(Trim(text.substr(eq + 1)))};
}

PortTable ParsePortTable(std::string_view text, std::vector<std::string>* faults) {
  PortTable table;
  while (!text.empty()) {
    const auto comma = text.find(',');
    const auto entry = Trim(text.substr(0, comma));
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    if (entry.empty()) continue;
    std::string fault;
    const auto parsed = ParsePortEntry(entry, &fault);
    if (parsed && table.count(parsed->port))
      fault = "COM" + std::to_string(parsed->port) + " is given twice";
    else if (parsed)
      table[parsed->port] = parsed->device;
    if (!fault.empty() && faults) faults->push_back(std::string(entry) + ": " + fault);
  }
  return table;
}

}  // namespace velmora
