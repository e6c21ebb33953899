// Ports beyond the start-up scan: devices that come and go keep their COM numbers, the list
// follows them, and a lost port is chosen again when its device returns.
#pragma once

#include <map>
#include <string>

#include "platform/device_watch.h"
#include "serial/port_table.h"

namespace velmora {

class Console;

struct WatchedDevice {
  std::string path;
  std::string id;
  std::string place;
  bool present = false;
  unsigned arrivals = 0;  // how often it appeared while the console ran
};

struct PortWatchState {
  // COM number -> device, for the whole run: a device away keeps its number.
  std::map<int, WatchedDevice> devices;
  // An explicit table: its numbers are the only ones.
  bool fixedNumbers = false;
  // The COM number whose device the console waits for since its port was lost; 0: none.
  int awaiting = 0;
  // Arrivals of the open port's device when it was opened: a higher count at its loss means
  // the device has already come back.
  unsigned arrivalsAtOpen = 0;
  DeviceWatch* watch = nullptr;  // none: the list stays as the start-up scan made it
  // The COM number of a network port the console is reopening by itself: its opening may
  // still fail, and then quietly.
  int reconnecting = 0;
};

// Before the start-up scan: the numbers the table gives.
void UsePortTable(Console& c, const PortTable& table, bool fixedNumbers);
// After it: what the scan listed is present; the watch reports the rest.
void WatchPorts(Console& c, DeviceWatch& watch);
// The device behind a port number; empty when there is none.
std::string PortDevice(const Console& c, int port);

void DeviceAppeared(Console& c, const DeviceInfo& device);
void DeviceDisappeared(Console& c, const DeviceInfo& device);
// Runs after every CommPortSelect_Click: a choice ends the waiting for a lost port.
void PortChosen(Console& c);
// The open port `port` was lost and the list went back to DISCONNECT.
void AwaitReturn(Console& c, int port);
// A network port that the console reopened by itself failed to open: wait for its server again.
bool ReconnectFailed(Console& c, int port);
// What the lost-port box adds when the console will reconnect by itself.
std::string ReturnNote(const Console& c);

}  // namespace velmora
