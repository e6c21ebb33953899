// Letting pending window events run inside a handler, and running deferred work later.
#pragma once

namespace velmora {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Runs the window events that are waiting (timer ticks, clicks, port events).
  virtual void ProcessEvents() = 0;
  // Asks for the core's deferred work to be run from a fresh call stack soon.
  virtual void ScheduleDeferred() = 0;
};

}  // namespace velmora
