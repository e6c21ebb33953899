// Reading udev's events of serial devices.
#include "platform/device_events.h"

#include <algorithm>

namespace velmora {

DeviceEvents::DeviceEvents(const std::map<std::string, std::string>& paths) : all_(paths.empty()) {
  for (const auto& [path, node] : paths) {
    auto& nodes = nodes_[path];
    if (!node.empty()) nodes.insert(node);
  }
}

std::vector<DeviceReport> DeviceEvents::Take(const DeviceEvent& e) {
  DeviceInfo info{e.node, {}, e.idPath};
  for (const auto& link : e.links) {
    // Adapters without a serial number share one by-id name: it names none of them alone.
    if (link.starts_with("/dev/serial/by-id/") && e.serialNumber) info.id = link;
    if (link.starts_with("/dev/serial/by-path/")) info.place = link;
  }
  if (all_) return {{e.added, info}};
  std::vector<DeviceReport> reports;
  for (auto& [path, nodes] : nodes_) {
    // The node a path was reported with names it at its removal too, links or not.
    const bool named = e.node == path || nodes.count(e.node) ||
                       std::find(e.links.begin(), e.links.end(), path) != e.links.end();
    if (!named) continue;
    if (e.added)
      nodes.insert(e.node);
    else
      nodes.erase(e.node);
    info.path = path;
    reports.push_back({e.added, info});
  }
  return reports;
}

}  // namespace velmora
