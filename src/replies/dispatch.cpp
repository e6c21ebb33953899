// Program detection from the card's banners and listings, and the parsers in their fixed order.
#include "replies/dispatch.h"

#include <exception>

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
