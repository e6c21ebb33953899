// Holds the card's traffic to the speed of a real serial line.
#pragma once

#include <chrono>
#include <cstddef>

namespace velmora::cardsim {

// Time since the simulator started. Everything in the simulator's logic is driven by times
// handed in by its caller, so tests run it on a clock of their own.
using Time = std::chrono::microseconds;

// A token bucket for one direction of the line: at 57600 baud, 8N1, ten bits go out per byte,
// so 5,760 bytes a second. Bytes are released in small bursts (a few milliseconds' worth, like
// a UART's FIFO), so the peer sees many small arrivals, as it would on a real line.
class LinePacer {
 public:
  // 0 bytes per second: no limit.
  explicit LinePacer(double bytes_per_second = 0.0);

  static LinePacer ForBaud(long baud) { return LinePacer(static_cast<double>(baud) / 10.0); }

  bool Limited() const { return rate_ > 0.0; }
  double BytesPerSecond() const { return rate_; }
  // The most that is released at once.
  std::size_t Burst() const { return burst_; }

  // Whole bytes that may go now (unbounded when there is no limit).
  std::size_t Allowance(Time now);
  void Spend(std::size_t bytes);
  // When `want` bytes (at most one burst) may go; `now` when they may go at once.
  Time ReadyAt(Time now, std::size_t want) const;
  // Whether bytes were left waiting after the last release. A real line keeps running while its
  // reader is late, so credit then builds up beyond one burst; an idle line banks none.
  void SetBacklogged(bool backlogged) { backlogged_ = backlogged; }

 private:
  void Refill(Time now);
  std::size_t Cap() const;

  double rate_ = 0.0;
  std::size_t burst_ = 0;
  double tokens_ = 0.0;
  Time last_{0};
  bool backlogged_ = false;
};

}  // namespace velmora::cardsim
