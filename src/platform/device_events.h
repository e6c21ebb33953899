// udev's reports of serial devices, read as the console's device watch needs them: which of
// the watched devices came or went, and what tells each device apart.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/device_watch.h"

namespace velmora {

// One udev event of a serial device, as the Qt watch reads it from libudev (tests make them up).
struct DeviceEvent {
  bool added = false;              // "add"; otherwise "remove"
  std::string node;                // DEVNAME: /dev/ttyUSB0
  std::vector<std::string> links;  // DEVLINKS: /dev/serial/by-id/..., /dev/serial/by-path/...
  std::string idPath;              // ID_PATH, for a device without a by-path link
  bool serialNumber = false;       // ID_SERIAL_SHORT is set: its by-id name is its own
};

struct DeviceReport {
  bool appeared = false;
  DeviceInfo device;
};

// Every serial device, or (given paths) only those, each reported under its own path whether
// the event names it as its node or as one of its links.
class DeviceEvents {
 public:
  // Each path with the node it leads to now ("" while absent).
  explicit DeviceEvents(const std::map<std::string, std::string>& paths = {});
  std::vector<DeviceReport> Take(const DeviceEvent& event);

 private:
  bool all_;
  std::map<std::string, std::set<std::string>> nodes_;  // path -> nodes reported under it
};

}  // namespace velmora
