// Reading values out of reply lines: cuts at fixed positions and the two number readings.
#pragma once

#include <string>
#include <string_view>

#include "replies/numbers.h"

namespace velmora {

inline bool Holds(std::string_view line, std::string_view marker) {
  return line.find(marker) != std::string_view::npos;
}

// count characters from the 1-based position from; past the end only what is there.
inline std::string Cut(std::string_view line, std::size_t from, std::size_t count) {
  if (from < 1) throw ReplyError("Invalid procedure call");
  if (from > line.size()) return {};
  return std::string(line.substr(from - 1, count));
}

// From the 1-based position from to the end.
inline std::string CutRest(std::string_view line, std::size_t from) {
  return Cut(line, from, std::string_view::npos);
}

inline double HexValue(std::string_view cut) { return NumberFromText("&H" + std::string(cut)); }
inline double DecimalValue(std::string_view cut) { return NumberFromText(cut); }

}  // namespace velmora
