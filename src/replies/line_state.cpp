// The hook and ring parsers are twins: one implementation, parameterised by what differs.
#include "replies/line_state.h"

#include "app/console.h"
#include "replies/reply_text.h"
#include "trends/recording.h"

namespace velmora {
namespace {

struct LineStateKind {
  const char* stateMarker;
  const char* firstEvent;  // tried first; each event writes its own marker text
  const char* secondEvent;
  std::string (*text)(std::uint8_t code);
  TextBox MainWindow::*line1;
  TextBox MainWindow::*line2;
  std::string LineState::*member;
  Quantity line1Trend, line2Trend;
};

const LineStateKind kHook = {"hook_state: ", "OFF HOOK",          "ON HOOK",
                             HookStateText,  &MainWindow::Line1Hook, &MainWindow::Line2Hook,
                             &LineState::Hook, Quantity::Line1Hook, Quantity::Line2Hook};
const LineStateKind kRing = {"ring_state: ", "RING OFF",          "RING ON",
                             RingStateText,  &MainWindow::Line1Ring, &MainWindow::Line2Ring,
                             &LineState::Ring, Quantity::Line1Ring, Quantity::Line2Ring};

void ShowSelected(Console& c, const LineStateKind& kind) {
  const CpeStatusRecord& r = c.state.CpeStatus.at(c.state.SelectedCpe);
  (c.ui.*kind.line1).SetText(r.Lines[0].*kind.member);
  (c.ui.*kind.line2).SetText(r.Lines[1].*kind.member);
}

void Record(Console& c, int cpe, const LineStateKind& kind, std::size_t lineIndex,
            const std::string& text) {
  RecordTrend(c, cpe, lineIndex == 0 ? kind.line1Trend : kind.line2Trend, LineCode(text));
}

void SetOwn(Console& c, const LineStateKind& kind, std::size_t lineIndex, const std::string& text) {
  (c.ui.*(lineIndex == 0 ? kind.line1 : kind.line2)).SetText(text);
  Record(c, kNoCpe, kind, lineIndex, text);
}

void ParseCpeLines(Console& c, const std::string& line, const LineStateKind& kind) {
  if (Holds(line, kind.stateMarker)) {
    const std::string codes = Cut(line, 13, 4);
    SetOwn(c, kind, 0, kind.text(ToByte(DecimalValue(Cut(codes, 1, 2)))));
    SetOwn(c, kind, 1, kind.text(ToByte(DecimalValue(Cut(codes, 3, 2)))));
    return;
  }
  for (const char* event : {kind.firstEvent, kind.secondEvent}) {
    if (!Holds(line, event)) continue;
    const std::uint8_t channel = ToByte(HexValue(Cut(line, 9, 2)));
    if (channel <= 1) SetOwn(c, kind, channel, event);
    return;
  }
}

void ParseLineCardLines(Console& c, const std::string& line, const LineStateKind& kind) {
  auto& cpes = c.state.CpeStatus;
  if (Holds(line, kind.stateMarker)) {
    const std::string codes = Cut(line, 13, 16);
    for (std::size_t i = 0; i < 4; ++i) {
      // Only a CPE with a link reports its lines truly.
      if (cpes[i].OpState != "Locked") continue;
      for (std::size_t j = 0; j < 2; ++j) {
        cpes[i].Lines[j].*kind.member =
            kind.text(ToByte(DecimalValue(Cut(codes, 1 + 4 * i + 2 * j, 2))));
        Record(c, static_cast<int>(i), kind, j, cpes[i].Lines[j].*kind.member);
      }
    }
    ShowSelected(c, kind);
    return;
  }
  for (const char* event : {kind.firstEvent, kind.secondEvent}) {
    if (!Holds(line, event)) continue;
    const double n = HexValue(Cut(line, 12, 2));
    const std::size_t at = line.find("Channel ");
    if (at == std::string::npos) throw ReplyError("Invalid procedure call");
    const std::uint8_t channel = ToByte(HexValue(Cut(std::string_view(line).substr(at), 9, 2)));
    if (n > 3 || channel > 1) throw ReplyError("Subscript out of range");
    cpes[static_cast<std::size_t>(n)].Lines[channel].*kind.member = event;
    Record(c, static_cast<int>(n), kind, channel, event);
    ShowSelected(c, kind);
    return;
  }
}

void ParseLineState(Console& c, const std::string& line, const LineStateKind& kind) {
  if (c.state.ProgramType == ProgramType::CpeApp)
    ParseCpeLines(c, line, kind);
  else if (c.state.ProgramType == ProgramType::LineCardApp)
    ParseLineCardLines(c, line, kind);
}

}  // namespace

std::string HookStateText(std::uint8_t code) { return code == 0 ? "OFF HOOK" : "ON HOOK"; }
std::string RingStateText(std::uint8_t code) { return code == 1 ? "RING ON" : "RING OFF"; }

void ParseHookState(Console& c, std::string& line) { ParseLineState(c, line, kHook); }
void ParseRingState(Console& c, std::string& line) { ParseLineState(c, line, kRing); }

}  // namespace velmora
