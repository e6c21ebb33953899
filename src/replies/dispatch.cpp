// Program detection from the card's banners and listings, and the parsers in their fixed order.
#include "replies/dispatch.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <exception>
#include <iterator>
#include <string_view>

#include "app/console.h"
#include "app/program_view.h"
#include "replies/line_state.h"
#include "replies/op_status.h"
#include "replies/reply_text.h"
#include "replies/settings_replies.h"
#include "trends/recording.h"

namespace velmora {
namespace {

void SetProgramType(Console& c, std::int32_t type) {
  c.state.ProgramType = type;
  ApplyProgramView(c, c.state.ProgramType);
  MarkTrend(c, Quantity::Program, type);
}

// What the parsers stored from one line goes into the trends when the line has been handled
// to its end, all with one time; a line that raised a reply error leaves nothing.
class TrendLine {
 public:
  explicit TrendLine(Trends& t) : trends_(t) {}
  ~TrendLine() {
    if (std::uncaught_exceptions() > exceptions_)
      trends_.DiscardLine();
    else
      trends_.CommitLine();
  }

 private:
  Trends& trends_;
  int exceptions_ = std::uncaught_exceptions();
};

struct Detection {
  const char* text;
  std::int32_t type;
};

// First hit decides, in this order.
constexpr Detection kWhileUnknown[] = {
    {"Boot Loader Initialized", ProgramType::BootLoader},
    {"Line Card Application Initialized", ProgramType::LineCardApp},
    {"CPE Application Initialized", ProgramType::CpeApp},
    {"Maximum CPU%", ProgramType::BootLoader},
};
constexpr Detection kWhileBootLoader[] = {
    {"Line Card Application Initialized", ProgramType::LineCardApp},
    {"CPE Application Initialized", ProgramType::CpeApp},
    {"cpe_reset #", ProgramType::LineCardApp},
    {"Stops Application", ProgramType::CpeApp},
};

template <std::size_t N>
void Detect(Console& c, const std::string& line, const Detection (&table)[N]) {
  for (const Detection& d : table) {
    if (Holds(line, d.text)) {
      SetProgramType(c, d.type);
      return;
    }
  }
}

using Parser = void (*)(Console&, std::string&);
constexpr Parser kApplicationParsers[] = {
    ParseVersions,     ParseSignalStrength, ParseRadioSettings,
    ParseEepromRead,   ParseSfdLossCount,   ParseOpStatus,
    ParseHookState,    ParseRingState,      ParseTemperature,
};

// Every text an application parser looks for. A parser does nothing with a line that holds
// none of its texts, and most of a flood's lines hold none of them: one pass over the line
// finds that out, where asking each parser costs a search per text. Keep in step with the
// parsers; the replies tests bring each of these texts here.
constexpr std::string_view kApplicationMarkers[] = {
    "    Version:  ",     "FF28: ",          "FF12: ",
    "0000: ",             "0004: ",          "0005: ",
    "SFD Loss Count: ",   "op_status: ",     "Starting Ranging",
    "Starting Acquisition", "Ranging Completed Successfully", "Communications Lost",
    "Commanded Reset",    "hook_state: ",    "OFF HOOK",
    "ON HOOK",            "ring_state: ",    "RING OFF",
    "RING ON",            "temperature: ",
};
static_assert(std::size(kApplicationMarkers) <= 32);

constexpr std::size_t kShortestMarker = [] {
  std::size_t n = kApplicationMarkers[0].size();
  for (std::string_view m : kApplicationMarkers) n = std::min(n, m.size());
  return n;
}();
static_assert(kShortestMarker >= 2);

// The markers' beginnings, kShortestMarker characters each, looked for by the pairs of
// characters they hold (Wu and Manber's search): a window of the line that ends in a pair no
// beginning holds is passed over by as much as the pair allows, most of a debug line at a time.
struct MarkerIndex {
  // How far the window's end may move on past each pair of characters (first << 8 | second).
  std::array<std::uint8_t, 65536> shift{};
  // The markers whose beginning ends with the character, and has it one before its end.
  std::array<std::uint32_t, 256> last{}, beforeLast{};
  constexpr MarkerIndex() {
    constexpr std::size_t m = kShortestMarker;
    shift.fill(static_cast<std::uint8_t>(m - 1));
    for (std::size_t k = 0; k < std::size(kApplicationMarkers); ++k) {
      const std::string_view marker = kApplicationMarkers[k];
      for (std::size_t j = 1; j < m; ++j) {
        auto& s = shift[Pair(marker[j - 1], marker[j])];
        s = std::min(s, static_cast<std::uint8_t>(m - 1 - j));
      }
      last[static_cast<unsigned char>(marker[m - 1])] |= 1u << k;
      beforeLast[static_cast<unsigned char>(marker[m - 2])] |= 1u << k;
    }
  }
  static constexpr std::size_t Pair(char a, char b) {
    return static_cast<std::size_t>(static_cast<unsigned char>(a)) << 8 | static_cast<unsigned char>(b);
  }
};
constexpr MarkerIndex kMarkerIndex;

bool HoldsAnyMarker(std::string_view line) {
  constexpr std::size_t m = kShortestMarker;
  for (std::size_t end = m - 1; end < line.size();) {
    if (const std::uint8_t s = kMarkerIndex.shift[MarkerIndex::Pair(line[end - 1], line[end])]) {
      end += s;
      continue;
    }
    std::uint32_t candidates = kMarkerIndex.last[static_cast<unsigned char>(line[end])] &
                               kMarkerIndex.beforeLast[static_cast<unsigned char>(line[end - 1])];
    for (; candidates != 0; candidates &= candidates - 1) {
      const std::string_view marker = kApplicationMarkers[std::countr_zero(candidates)];
      if (line.compare(end + 1 - m, marker.size(), marker) == 0) return true;
    }
    ++end;
  }
  return false;
}

}  // namespace

void DispatchResponseLine(Console& c) {
  const std::string& line = c.state.ResponseLine;
  const TrendLine trendLine(c.trends);
  switch (c.state.ProgramType) {
    case ProgramType::Unknown:
      Detect(c, line, kWhileUnknown);
      break;
    case ProgramType::BootLoader: {
      Detect(c, line, kWhileBootLoader);
      std::string copy = line;
      ParseVersions(c, copy);
      break;
    }
    case ProgramType::LineCardApp:
    case ProgramType::CpeApp:
      // Only the boot loader's banner moves the console away from an application.
      if (Holds(line, "Boot Loader Initialized")) {
        SetProgramType(c, ProgramType::BootLoader);
        break;
      }
      if (!HoldsAnyMarker(line)) break;
    {
      // Each parser gets its own copy, in one buffer: a flood's every line passes here.
      std::string copy;
      copy.reserve(line.size());
      for (Parser parse : kApplicationParsers) {
        copy.assign(line);
        parse(c, copy);
      }
      break;
    }
    default:
      break;
  }
}

void ParseVersions(Console& c, std::string& line) {
  constexpr std::string_view kKey = "    Version:  ";
  if (line.find(kKey) == std::string::npos) return;
  // From the 15th character of the line, wherever the key was found.
  const std::string v = line.size() > kKey.size() ? line.substr(kKey.size()) : std::string{};
  if (v.empty()) return;
  auto& ui = c.ui;
  if (Holds(v, "Boot"))
    ui.BootLoaderText.SetText(v);
  else if (Holds(v, "CPE") || Holds(v, "Line"))
    ui.ApplicationText.SetText(v);
  else
    ui.FirmwareText.SetText(v);
}

}  // namespace velmora
