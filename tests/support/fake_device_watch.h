// A device watch the test drives by hand: plugging and pulling devices.
#pragma once

#include <string>
#include <vector>

#include "platform/device_watch.h"

namespace velmora::testing {

class FakeDeviceWatch : public DeviceWatch {
 public:
  void Watch(const std::vector<std::string>& paths) override { watched = paths; }
  void Plug(const std::string& path, const std::string& id = {}) {
    if (onAppeared) onAppeared({path, id});
  }
  void Pull(const std::string& path, const std::string& id = {}) {
    if (onDisappeared) onDisappeared({path, id});
  }
  std::vector<std::string> watched;
};

}  // namespace velmora::testing
