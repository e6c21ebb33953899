// The events both Qt ports raise for MSComm1: a receive event, and one send event each time
// fewer characters wait than the threshold, checked when bytes were written and every 10 ms
// until then (what "waiting" means is the port's own).
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "platform/serial_port.h"

namespace velmora {

class CommEvents : public QObject {
 public:
  CommEvents(SerialPort& port, std::function<qint64()> waiting);

  CommEvent Event() const { return event_; }
  // Runs the port's onComm with Event() giving `e`, while the port is open.
  void Raise(CommEvent e);

  int Threshold() const { return threshold_; }
  void SetThreshold(int n);
  // Bytes were handed over: the next drain below the threshold raises one send event.
  void Wrote();
  void Check();
  // The port closed: no threshold, nothing pending.
  void Reset() { SetThreshold(0); }

 private:
  SerialPort& port_;
  std::function<qint64()> waiting_;
  QTimer poll_;
  int threshold_ = 0;
  bool armed_ = false;
  CommEvent event_ = CommEvent::None;
};

}  // namespace velmora
