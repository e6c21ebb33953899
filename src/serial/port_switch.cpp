#include "serial/port_switch.h"

#include "recorder/replay_port.h"
#include "serial/network_address.h"

namespace velmora {

PortSwitch::PortSwitch(SerialPort& local, SerialPort& network)
    : local_(local), network_(network), active_(&local) {
  for (SerialPort* p : {&local_, &network_}) Listen(p);
}

void PortSwitch::AddReplay(SerialPort& replay) {
  replay_ = &replay;
  Listen(replay_);
}

void PortSwitch::Listen(SerialPort* p) {
  // Only the port in use speaks for MSComm1.
  p->onComm = [this, p] {
    if (p == active_ && onComm) onComm();
  };
  p->onLost = [this, p](const std::string& description) {
    if (p == active_ && onLost) onLost(description);
  };
  p->onOpenFailed = [this, p](const OpenFailure& failure) {
    if (p == active_ && onOpenFailed) onOpenFailed(failure);
  };
}

void PortSwitch::SetCommPort(int port) {
  port_ = port;
  local_.SetCommPort(port);
  network_.SetCommPort(port);
  if (replay_) replay_->SetCommPort(port);
}

OpenFailure PortSwitch::Open() {
  // The port in use stays in use until it is closed.
  if (active_->IsOpen()) return active_->Open();
  const std::string device = DeviceName(port_);
  active_ = replay_ && ParseReplayAddress(device) ? replay_
            : IsNetworkEntry(device)              ? &network_
                                                  : &local_;
  return active_->Open();
}

}  // namespace velmora
