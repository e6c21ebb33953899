// The console's side of the flight recorder: the port as seen at its boundary, and the
// console's own events.
#pragma once

#include <string_view>

#include "platform/serial_port.h"
#include "recorder/recorder.h"

namespace velmora {

class Console;

// MSComm1 as the console sees it, recording every byte both ways and what happens to the port.
class RecordingPort : public SerialPort {
 public:
  RecordingPort(SerialPort& port, Recorder& recorder);

  void SetCommPort(int port) override;
  int CommPort() const override { return port_.CommPort(); }
  OpenFailure Open() override;
  void Close() override;
  bool IsOpen() const override { return port_.IsOpen(); }
  bool Output(const std::string& bytes) override;
  std::string Input() override;
  CommEvent Event() const override { return port_.Event(); }
  void SetSThreshold(int n) override { port_.SetSThreshold(n); }
  int SThreshold() const override { return port_.SThreshold(); }
  std::string DeviceName(int port) const override { return port_.DeviceName(port); }
  std::int64_t ArrivedWallMs() const override { return port_.ArrivedWallMs(); }

 private:
  SerialPort& port_;
  Recorder& recorder_;
};

// Hooks the recorder into the console: events, boxes, download states, and its own stops.
void UseRecorder(Console& c, Recorder& recorder);
// One event of the console, when it records.
void RecordEvent(Console& c, std::string_view name, std::string_view text);

}  // namespace velmora
