// When each line of the Terminal pane began to arrive, for "Show Times". Kept beside the pane,
// never in it: the pane's text and the log stay exactly the card's bytes.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

namespace velmora {

class PaneTimes {
 public:
  // text was appended to the pane at wall-clock wallMs; the pane now holds paneSize characters.
  void Appended(std::string_view text, std::int64_t wallMs, std::size_t paneSize);
  // The wall-clock time of the line holding the pane's character at position, or -1.
  std::int64_t TimeAt(std::size_t position, std::size_t paneSize) const;

 private:
  std::uint64_t appended_ = 0;                                 // characters ever appended
  std::deque<std::pair<std::uint64_t, std::int64_t>> starts_;  // line start, its time
  bool lineEnded_ = true;
  char last_ = 0;
};

}  // namespace velmora
