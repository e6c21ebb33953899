#include "recorder/pane_times.h"

#include <algorithm>

namespace velmora {

void PaneTimes::Appended(std::string_view text, std::int64_t wallMs, std::size_t paneSize) {
  // A line starts with the text when the one before it ended, and after each CR LF within it;
  // found by their LFs, since a flood's every byte passes here.
  if (!text.empty()) {
    if (lineEnded_) starts_.push_back({appended_, wallMs});
    for (std::size_t lf = text.find('\n'); lf != std::string_view::npos; lf = text.find('\n', lf + 1)) {
      if ((lf > 0 ? text[lf - 1] : last_) == '\r' && lf + 1 < text.size())
        starts_.push_back({appended_ + lf + 1, wallMs});
    }
    lineEnded_ = text.back() == '\n' && (text.size() > 1 ? text[text.size() - 2] : last_) == '\r';
    last_ = text.back();
  }
  appended_ += text.size();
  // Lines wholly trimmed from the pane are forgotten; the one it begins inside of is kept.
  const std::uint64_t paneStart = appended_ - std::min<std::uint64_t>(paneSize, appended_);
  while (starts_.size() > 1 && starts_[1].first <= paneStart) starts_.pop_front();
}

std::int64_t PaneTimes::TimeAt(std::size_t position, std::size_t paneSize) const {
  const std::uint64_t at = appended_ - std::min<std::uint64_t>(paneSize, appended_) + position;
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), at,
                                      [](std::uint64_t a, const auto& s) { return a < s.first; });
  return after == starts_.begin() ? -1 : std::prev(after)->second;
}

}  // namespace velmora
