// Two clocks: a monotonic one that orders and spaces what happens, and the wall clock that
// labels it for people. Only the wall clock jumps (suspend, a time change).
#pragma once

#include <cstdint>

namespace velmora {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start, never going back.
  virtual std::int64_t MonotonicMs() const = 0;
  // The same clock in microseconds, where a clock has them.
  virtual std::int64_t MonotonicUs() const { return MonotonicMs() * 1000; }
  // Milliseconds since 1970-01-01 00:00 UTC.
  virtual std::int64_t WallMs() const = 0;
};

// The system's clocks.
Clock& SystemClock();

}  // namespace velmora
