// One MSComm1 over two kinds of port: serial devices, and serial lines a terminal server puts
// on the network. The device a port number names decides which of the two opens it; the
// console sees one port either way.
#pragma once

#include "platform/serial_port.h"

namespace velmora {

class PortSwitch : public SerialPort {
 public:
  PortSwitch(SerialPort& local, SerialPort& network);
  // Recordings played back as ports (replay://PATH).
  void AddReplay(SerialPort& replay);

  void SetCommPort(int port) override;
  int CommPort() const override { return port_; }
  OpenFailure Open() override;
  void Close() override { active_->Close(); }
  bool IsOpen() const override { return active_->IsOpen(); }
  bool Output(const std::string& bytes) override { return active_->Output(bytes); }
  std::string Input() override { return active_->Input(); }
  std::int64_t ArrivedWallMs() const override { return active_->ArrivedWallMs(); }
  CommEvent Event() const override { return active_->Event(); }
  void SetSThreshold(int n) override { active_->SetSThreshold(n); }
  int SThreshold() const override { return active_->SThreshold(); }
  std::string DeviceName(int port) const override { return local_.DeviceName(port); }

 private:
  void Listen(SerialPort* p);

  SerialPort& local_;
  SerialPort& network_;
  SerialPort* replay_ = nullptr;
  SerialPort* active_;
  int port_ = 1;
};

}  // namespace velmora
