#include "serial/remote_line.h"

#include <algorithm>

namespace velmora {

std::int64_t RemoteLineQueue::Queued(std::int64_t nowMs) const {
  const std::int64_t sent = rate_ * std::max<std::int64_t>(0, nowMs - atMs_) / 1000;
  return std::max<std::int64_t>(0, queued_ - sent);
}

void RemoteLineQueue::Wrote(std::int64_t bytes, std::int64_t nowMs) {
  queued_ = Queued(nowMs) + std::max<std::int64_t>(0, bytes);
  atMs_ = nowMs;
}

std::int64_t RemoteLineQueue::Waiting(std::int64_t nowMs, std::int64_t socketHolds) const {
  return std::max(Queued(nowMs), socketHolds);
}

}  // namespace velmora
