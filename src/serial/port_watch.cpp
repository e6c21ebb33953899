// The COM numbers of devices that come and go, the list that follows them, and the reconnect
// of a lost port when its device returns.
#include "serial/port_watch.h"

#include <set>

#include "app/console.h"
#include "serial/network_address.h"

namespace velmora {
namespace {

// How surely `known` is the device `d` that arrives or leaves: 0 not at all, higher the surer.
// An adapter is known by its by-id name wherever it turns up, and by where it is plugged in
// when its name is shared (adapters without serial numbers); a device leaving is surest known
// by its node, which no two devices present hold at once.
int Likeness(const WatchedDevice& known, const DeviceInfo& d, bool arriving) {
  const auto same = [](const std::string& a, const std::string& b) {
    return a.empty() || b.empty() ? 0 : a == b ? 1 : -1;
  };
  const int id = same(known.id, d.id), place = same(known.place, d.place);
  const int path = known.path == d.path ? 1 : 0;
  // Two devices present at once are two devices, whatever their names.
  if (arriving ? known.present && !path : !known.present) return 0;
  // Another place is another device, unless its by-id name is its own (an adapter with a
  // serial number plugged into another socket).
  if (id < 0 || (place < 0 && id <= 0)) return 0;
  const int score =
      arriving ? 4 * (id > 0) + 2 * (place > 0) + path : 4 * path + 2 * (id > 0) + (place > 0);
  return score;
}

int NumberOf(const Console& c, const DeviceInfo& d, bool arriving) {
  int port = 0, best = 0;
  for (const auto& [n, known] : c.portWatch.devices)
    if (const int likeness = Likeness(known, d, arriving); likeness > best) {
      port = n;
      best = likeness;
    }
  return port;
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
    // An entry names its device where it is now.
    if (const int entry = EntryOf(list, port)) list.SetItemToolTip(entry, known.path);
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
  for (const auto& [port, path] : table) w.devices[port].path = path;
  w.fixedNumbers = fixedNumbers;
}

void WatchPorts(Console& c, DeviceWatch& watch) {
  auto& w = c.portWatch;
  const auto& list = c.ui.CommPortSelect;
  for (auto& [port, known] : w.devices) known.present = EntryOf(list, port) != 0;
  w.watch = &watch;
  watch.onAppeared = [&c](const DeviceInfo& d) { DeviceAppeared(c, d); };
  watch.onDisappeared = [&c](const DeviceInfo& d) { DeviceDisappeared(c, d); };
  // By default the table is what the system reported: a device of it that the scan could not
  // open stays unlisted, as the scan left it; only what differs from the table is news.
  std::vector<std::string> paths, present;
  for (const auto& [port, known] : w.devices) {
    if (IsNetworkEntry(known.path)) continue;
    if (w.fixedNumbers) paths.push_back(known.path);
    if (known.present || !w.fixedNumbers) present.push_back(known.path);
  }
  watch.Watch(paths, present);
}

std::string PortDevice(const Console& c, int port) {
  const auto it = c.portWatch.devices.find(port);
  return it == c.portWatch.devices.end() ? std::string{} : it->second.path;
}

void DeviceAppeared(Console& c, const DeviceInfo& d) {
  if (c.unloaded) return;
  auto& w = c.portWatch;
  int port = NumberOf(c, d, true);
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
  if (!d.place.empty()) known.place = d.place;
  known.present = true;
  ++known.arrivals;
  FollowDevices(c);
  if (w.awaiting == port) Reconnect(c);
}

void DeviceDisappeared(Console& c, const DeviceInfo& d) {
  if (c.unloaded) return;
  const int port = NumberOf(c, d, false);
  if (port == 0) return;
  auto& known = c.portWatch.devices[port];
  // So that it is known by them when it returns.
  if (known.id.empty()) known.id = d.id;
  if (known.place.empty()) known.place = d.place;
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
