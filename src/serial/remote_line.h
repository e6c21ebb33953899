// What a network port has written that has not yet left the far end's serial line. The socket
// empties into the terminal server long before the line does, so its own buffer says too
// little: the line's transmit queue is modelled from what was written and the line's rate.
#pragma once

#include <cstdint>

namespace velmora {

// 57600 baud, 8 data bits, no parity, 1 stop bit: ten bits a byte.
constexpr std::int64_t kLineBytesPerSecond = 5760;

class RemoteLineQueue {
 public:
  explicit RemoteLineQueue(std::int64_t bytesPerSecond = kLineBytesPerSecond)
      : rate_(bytesPerSecond) {}

  // `bytes` handed to the socket at `nowMs` (a monotonic clock).
  void Wrote(std::int64_t bytes, std::int64_t nowMs);
  // Bytes still waiting to be sent at `nowMs`; never fewer than the socket still holds.
  std::int64_t Waiting(std::int64_t nowMs, std::int64_t socketHolds) const;
  void Clear() { queued_ = 0; }

 private:
  std::int64_t Queued(std::int64_t nowMs) const;

  std::int64_t rate_;
  std::int64_t queued_ = 0;  // at atMs_
  std::int64_t atMs_ = 0;
};

}  // namespace velmora
