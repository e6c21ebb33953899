// Serial devices that come and go while the console runs (an adapter plugged in or pulled).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velmora {

struct DeviceInfo {
  std::string path;  // what the port opens: /dev/ttyUSB0, or a path named in the port table
  // What stays the same when the device returns under another path: for a USB adapter its
  // /dev/serial/by-id/ name; empty when the system gives none.
  std::string id;
  // Where it is plugged in: its /dev/serial/by-path/ name (udev's ID_PATH). Two adapters
  // without serial numbers share one by-id name; this tells them apart. Empty when unknown.
  std::string place;
};

class DeviceWatch {
 public:
  virtual ~DeviceWatch() = default;
  // Starts reporting changes. With paths, only those are watched (each reported once it exists
  // and when what it points to changes); without, the system's serial devices. `present`: the
  // devices the console counts as there (what its start-up scan found); what differs from them
  // when the watch starts is reported too, once the window's loop runs.
  virtual void Watch(const std::vector<std::string>& paths,
                     const std::vector<std::string>& present) = 0;
  // A device that cannot tell of its return (a terminal server on the network) is looked for
  // until it answers, then reported once through onAppeared. StopProbing ends the looking.
  virtual void Probe(const std::string& path) { (void)path; }
  virtual void StopProbing() {}

  // Run on the window's thread, never from inside a call into the watch.
  std::function<void(const DeviceInfo&)> onAppeared;
  std::function<void(const DeviceInfo&)> onDisappeared;
};

}  // namespace velmora
