// A periodic timer of the window: interval in milliseconds and an enabled switch.
#pragma once

#include <functional>

namespace velmora {

class Timer {
 public:
  virtual ~Timer() = default;
  virtual void SetInterval(int ms) = 0;
  virtual int Interval() const = 0;
  // Enabling (again) starts the count afresh; with no interval the timer never fires.
  virtual void SetEnabled(bool on) = 0;
  virtual bool Enabled() const = 0;

  std::function<void()> onTimer;
};

}  // namespace velmora
