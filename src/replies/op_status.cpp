// Operational status replies: the CPE application's own link, the line card's per CPE.
#include "replies/op_status.h"

#include "app/console.h"
#include "app/lifecycle.h"
#include "replies/reply_text.h"
#include "trends/recording.h"

namespace velmora {
namespace {

CpeStatusRecord& Cpe(Console& c, std::uint8_t n) {
  if (n > 3) throw ReplyError("Subscript out of range");
  return c.state.CpeStatus[n];
}

const CpeStatusRecord& Selected(Console& c) { return c.state.CpeStatus.at(c.state.SelectedCpe); }

}  // namespace

std::uint8_t SubscriberNumber(const std::string& line) { return ToByte(HexValue(Cut(line, 12, 2))); }

std::string DescribeOpState(std::uint8_t code) {
  switch (code) {
    case 1:
      return "Ranging";
    case 2:
      return "Locked";
    default:
      return "Acquisition";
  }
}

void ParseOpStatus(Console& c, std::string& line) {
  auto& ui = c.ui;
  if (c.state.ProgramType == ProgramType::CpeApp) {
    const auto set = [&](const std::string& state) {
      ui.OpStateText.SetText(state);
      RecordTrend(c, kNoCpe, Quantity::State, StateCode(state));
    };
    if (Holds(line, "op_status: "))
      set(DescribeOpState(ToByte(DecimalValue(Cut(line, 12, 2)))));
    else if (Holds(line, "Starting Ranging"))
      set("Ranging");
    else if (Holds(line, "Ranging Completed Successfully"))
      set("Locked");
    else if (Holds(line, "Starting Acquisition"))
      set("Acquisition");
    return;
  }
  if (c.state.ProgramType != ProgramType::LineCardApp) return;

  const auto setState = [&](const char* state) {
    const std::uint8_t n = SubscriberNumber(line);
    Cpe(c, n).OpState = state;
    RecordTrend(c, n, Quantity::State, StateCode(state));
    ui.OpStateText.SetText(Selected(c).OpState);
  };
  const auto reset = [&](LinkCode why) {
    const std::uint8_t n = SubscriberNumber(line);
    ResetCpeStatus(c, n);
    RecordCpeReset(c, n, why);
    ShowCpeStatus(c);
  };
  if (Holds(line, "op_status: ")) {
    for (std::uint8_t k = 0; k < 4; ++k) {
      c.state.CpeStatus[k].OpState =
          DescribeOpState(ToByte(DecimalValue(Cut(line, 12 + 2 * k, 2))));
      RecordTrend(c, k, Quantity::State, StateCode(c.state.CpeStatus[k].OpState));
    }
    ui.OpStateText.SetText(Selected(c).OpState);
  } else if (Holds(line, "Starting Ranging")) {
    setState("Ranging");
  } else if (Holds(line, "Communications Lost")) {
    reset(kCommunicationsLost);
  } else if (Holds(line, "Ranging Completed Successfully")) {
    setState("Locked");
  } else if (Holds(line, "Commanded Reset")) {
    reset(kCommandedReset);
  }
}

void ParseSfdLossCount(Console& c, std::string& line) {
  constexpr std::string_view kMarker = "SFD Loss Count: ";
  const std::size_t at = line.find(kMarker);
  if (at == std::string::npos) return;
  if (c.state.ProgramType == ProgramType::CpeApp) {
    const auto count = static_cast<std::int64_t>(HexValue(Cut(line, 17, 4)));
    c.ui.SfdLossText.SetText(NumberText(count));
    RecordTrend(c, kNoCpe, Quantity::SfdLoss, static_cast<int>(count));
  } else if (c.state.ProgramType == ProgramType::LineCardApp) {
    const std::uint8_t n = SubscriberNumber(line);
    // The line card's count stands right behind the marker, wherever that is.
    const auto count =
        static_cast<std::int64_t>(HexValue(Cut(std::string_view(line).substr(at), 17, 4)));
    Cpe(c, n).SfdLoss = NumberText(count);
    RecordTrend(c, n, Quantity::SfdLoss, static_cast<int>(count));
    c.ui.SfdLossText.SetText(Selected(c).SfdLoss);
  }
}

void ParseSignalStrength(Console& c, std::string& line) {
  if (!Holds(line, "FF28: ")) return;
  if (c.state.ProgramType == ProgramType::CpeApp) {
    const auto rssi = static_cast<std::int64_t>(HexValue(Cut(line, 7, 2)));
    c.ui.RssiText.SetText(NumberText(rssi));
    RecordTrend(c, kNoCpe, Quantity::Signal, static_cast<int>(rssi));
  } else if (c.state.ProgramType == ProgramType::LineCardApp) {
    for (std::size_t k = 0; k < 4; ++k) {
      CpeStatusRecord& r = c.state.CpeStatus[k];
      // A CPE still acquiring has no link to measure.
      if (r.OpState != "Acquisition") {
        const auto rssi = static_cast<std::int64_t>(HexValue(Cut(line, 7 + 3 * k, 2)));
        r.Rssi = NumberText(rssi);
        RecordTrend(c, static_cast<int>(k), Quantity::Signal, static_cast<int>(rssi));
      }
    }
    c.ui.RssiText.SetText(Selected(c).Rssi);
  }
}

}  // namespace velmora
