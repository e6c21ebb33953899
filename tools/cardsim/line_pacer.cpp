#include "cardsim/line_pacer.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmora::cardsim {

LinePacer::LinePacer(double bytes_per_second) : rate_(std::max(0.0, bytes_per_second)) {
  // Four milliseconds' worth of bytes: 23 at 57600 baud. Small enough that a reader sees the
  // trickle of a real line, large enough that the simulator does not wake for every byte.
  burst_ = rate_ > 0.0 ? std::clamp<std::size_t>(static_cast<std::size_t>(rate_ / 250.0), 1, 256)
                       : std::numeric_limits<std::size_t>::max();
}

std::size_t LinePacer::Cap() const {
  // A UART's receive buffer holds a few tens of milliseconds of a busy line.
  constexpr std::size_t kBacklogBursts = 8;
  return backlogged_ ? burst_ * kBacklogBursts : burst_;
}

void LinePacer::Refill(Time now) {
  if (now <= last_) return;
  const double seconds = std::chrono::duration<double>(now - last_).count();
  tokens_ = std::min(static_cast<double>(Cap()), tokens_ + seconds * rate_);
  last_ = now;
}

std::size_t LinePacer::Allowance(Time now) {
  if (!Limited()) return std::numeric_limits<std::size_t>::max();
  Refill(now);
  return static_cast<std::size_t>(std::floor(tokens_));
}

void LinePacer::Spend(std::size_t bytes) {
  if (!Limited()) return;
  tokens_ = std::max(0.0, tokens_ - static_cast<double>(bytes));
}

Time LinePacer::ReadyAt(Time now, std::size_t want) const {
  if (!Limited()) return now;
  want = std::clamp<std::size_t>(want, 1, burst_);
  const double elapsed = now > last_ ? std::chrono::duration<double>(now - last_).count() : 0.0;
  const double have = std::min(static_cast<double>(Cap()), tokens_ + elapsed * rate_);
  if (have >= static_cast<double>(want)) return now;
  const double wait = (static_cast<double>(want) - have) / rate_;
  return now + Time(static_cast<Time::rep>(std::ceil(wait * 1e6)));
}

}  // namespace velmora::cardsim
