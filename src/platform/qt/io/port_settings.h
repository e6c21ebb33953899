// The port table's settings file on disk, and the devices that can be pinned to a number.
#pragma once

#include <string>
#include <vector>

#include "serial/port_setup.h"

namespace velmora {

// The settings file's text into `sources` (its path already there); a missing file is no fault.
void ReadSettingsFile(PortSources& sources);
// Writes `table` into the settings file, keeping its other lines; what went wrong, or empty. The
// old file stays whole when the new one cannot be written completely.
std::string WriteSettingsFile(const std::string& path, const PortTable& table);
// What the Ports dialog offers to pin: the /dev/serial/by-id/ links, then the system's devices.
std::vector<std::string> PinnableDevices();
bool DevicePresent(const std::string& device);

}  // namespace velmora
