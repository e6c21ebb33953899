#include "platform/qt/io/comm_events.h"

#include <algorithm>
#include <utility>

namespace velmora {

CommEvents::CommEvents(SerialPort& port, std::function<qint64()> waiting)
    : port_(port), waiting_(std::move(waiting)) {
  poll_.setInterval(10);
  connect(&poll_, &QTimer::timeout, this, &CommEvents::Check);
}

void CommEvents::Raise(CommEvent e) {
  if (!port_.IsOpen()) return;
  const CommEvent outer = event_;
  event_ = e;
  if (port_.onComm) port_.onComm();
  event_ = outer;
}

void CommEvents::SetThreshold(int n) {
  threshold_ = std::max(0, n);
  if (threshold_ == 0) {
    armed_ = false;
    poll_.stop();
  }
}

void CommEvents::Wrote() {
  if (threshold_ <= 0) return;
  armed_ = true;
  poll_.start();
}

void CommEvents::Check() {
  if (!armed_ || threshold_ <= 0 || !port_.IsOpen()) {
    poll_.stop();
    return;
  }
  if (waiting_() >= threshold_) return;
  armed_ = false;
  poll_.stop();
  Raise(CommEvent::Send);
}

}  // namespace velmora
