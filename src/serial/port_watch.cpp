// The COM numbers of devices that come and go, the list that follows them, and the reconnect
// of a lost port when its device returns.
#include "serial/port_watch.h"

#include <set>

#include "app/console.h"
#include "serial/network_address.h"

namespace velmora {
namespace {

// A USB adapter is known by its by-id name wherever it turns up; anything else by its path.
bool SameDevice(const WatchedDevice& known, const DeviceInfo& d) {
  if (!known.id.empty() && !d.id.empty()) return known.id == d.id;
  return known.path == d.path;
}

int NumberOf(const Console& c, const DeviceInfo& d) {
  for (const auto& [port, known] : c.portWatch.devices)
    if (SameDevice(known, d)) return port;
  return 0;
}

int EntryOf(const ComboBox& list, int port) {
  for (int i = 1; i < list.ListCount(); ++i)
    if (list.ItemData(i) == port) return i;
  return 0;
}

// Entries inserted or removed before the chosen one move it; PortListIndex moves with it, so
// that no click ever finds a change to act on.
void FollowDevices(Console& c) {
  auto& list = c.ui.CommPortSelect;
  auto& s = c.state;
  std::set<int> chosen;
  for (int i : {static_cast<int>(s.PortListIndex), static_cast<int>(list.ListIndex())})
    if (i > 0 && i < list.ListCount()) chosen.insert(list.ItemData(i));
  const auto& devices = c.portWatch.devices;
  for (int i = list.ListCount() - 1; i >= 1; --i) {
    const int port = list.ItemData(i);
    const auto it = devices.find(port);
    const bool present = it != devices.end() && it->second.present;
    if (present || chosen.count(port)) continue;
    list.RemoveItem(i);
    if (s.PortListIndex > i) --s.PortListIndex;
  }
  for (const auto& [port, known] : devices) {
    if (!known.present || EntryOf(list, port)) continue;
    int at = 1;
    while (at < list.ListCount() && list.ItemData(at) < port) ++at;
    list.InsertItem(at, "COM" + std::to_string(port), port, known.path);
    if (s.PortListIndex >= at) ++s.PortListIndex;
  }
}

bool OnDisconnectSinceLoss(const Console& c) {
  const auto& list = c.ui.CommPortSelect;
  return c.portWatch.awaiting != 0 && !c.unloaded && !c.MSComm1.IsOpen() &&
         c.state.PortListIndex == 0 && list.ListIndex() == 0;
}

// The engineer's own choice of the lost port's entry, made for them; no box if it fails.
void Reconnect(Console& c) {
  if (!OnDisconnectSinceLoss(c)) return;
  auto& w = c.portWatch;
  const int port = w.awaiting;
  const auto it = w.devices.find(port);
  const int entry = EntryOf(c.ui.CommPortSelect, port);
  if (it == w.devices.end() || !it->second.present || entry == 0) return;
  w.awaiting = 0;
  c.boxes().quiet = true;
  c.ui.CommPortSelect.SetListIndex(static_cast<std::int16_t>(entry));
  c.boxes().quiet = false;
  if (!c.MSComm1.IsOpen() && c.state.PortListIndex == 0)
    w.awaiting = port;
  else if (IsNetworkEntry(it->second.path))
    w.reconnecting = port;
}

}  // namespace

void UsePortTable(Console& c, const PortTable& table, bool fixedNumbers) {
  auto& w = c.portWatch;
  w.devices.clear();
  for (const auto& [port, path] : table) w.devices[port] = {path, {}, false, 0};
  w.fixedNumbers = fixedNumbers;
}

void WatchPorts(Console& c, DeviceWatch& watch) {
  auto& w = c.portWatch;
  const auto& list = c.ui.CommPortSelect;
  for (auto& [port, known] : w.devices) known.present = EntryOf(list, port) != 0;
  w.watch = &watch;
  watch.onAppeared = [&c](const DeviceInfo& d) { DeviceAppeared(c, d); };
  watch.onDisappeared = [&c](const DeviceInfo& d) { DeviceDisappeared(c, d); };
  std::vector<std::string> paths;
  if (w.fixedNumbers)
    for (const auto& [port, known] : w.devices)
      if (!IsNetworkEntry(known.path)) paths.push_back(known.path);
  watch.Watch(paths);
}

std::string PortDevice(const Console& c, int port) {
  const auto it = c.portWatch.devices.find(port);
  return it == c.portWatch.devices.end() ? std::string{} : it->second.path;
}

void DeviceAppeared(Console& c, const DeviceInfo& d) {
  if (c.unloaded) return;
  auto& w = c.portWatch;
  int port = NumberOf(c, d);
  if (port == 0) {
    if (w.fixedNumbers) return;
    // The lowest number no device of this run holds; with all eight held it is not listed.
    for (int n = kMaxPorts; n >= 1; --n)
      if (!w.devices.count(n)) port = n;
    if (port == 0) return;
  }
  auto& known = w.devices[port];
  known.path = d.path;
  if (!d.id.empty()) known.id = d.id;
  known.present = true;
  ++known.arrivals;
  FollowDevices(c);
  if (w.awaiting == port) Reconnect(c);
}

void DeviceDisappeared(Console& c, const DeviceInfo& d) {
  if (c.unloaded) return;
  const int port = NumberOf(c, d);
  if (port == 0) return;
  auto& known = c.portWatch.devices[port];
  if (known.id.empty()) known.id = d.id;  // so that it is known by it when it returns
  known.present = false;
  FollowDevices(c);
}

void PortChosen(Console& c) {
  auto& w = c.portWatch;
  w.awaiting = 0;
  w.reconnecting = 0;
  if (w.watch) w.watch->StopProbing();
  if (c.MSComm1.IsOpen()) {
    const auto it = w.devices.find(c.MSComm1.CommPort());
    w.arrivalsAtOpen = it == w.devices.end() ? 0 : it->second.arrivals;
  }
  // An entry kept only because it was chosen goes once it no longer is.
  if (w.watch) FollowDevices(c);
}

void AwaitReturn(Console& c, int port) {
  auto& w = c.portWatch;
  if (!w.watch || !w.devices.count(port)) return;
  w.awaiting = port;
  const auto& known = w.devices[port];
  // A terminal server does not say when it is back: it is asked until it answers.
  if (IsNetworkEntry(known.path)) return w.watch->Probe(known.path);
  // Already back (a quick replug reported before the loss): reconnect once the box is up.
  if (known.present && known.arrivals > w.arrivalsAtOpen) c.Defer([&c] { Reconnect(c); });
}

bool ReconnectFailed(Console& c, int port) {
  if (c.portWatch.reconnecting != port) return false;
  c.state.PortListIndex = 0;
  c.ui.CommPortSelect.SetListIndex(0);
  AwaitReturn(c, port);
  return true;
}

std::string ReturnNote(const Console& c) {
  const int port = c.portWatch.awaiting;
  if (port == 0) return {};
  const bool server = IsNetworkEntry(PortDevice(c, port));
  return "\n\nThe console will reconnect to COM" + std::to_string(port) + " by itself when " +
         (server ? "its server accepts again." : "the device returns.");
}

}  // namespace velmora
