// Settings and health replies. A read-back puts its control to the stored value and disables the
// Update button, although setting the control ran the handler that enabled it.
#include "replies/settings_replies.h"

#include "app/console.h"
#include "replies/reply_text.h"
#include "trends/recording.h"

namespace velmora {
namespace {

std::string WithoutLeadingBlanks(std::string text) {
  text.erase(0, text.find_first_not_of(' '));
  return text;
}

}  // namespace

void ParseEepromRead(Console& c, std::string& line) {
  auto& ui = c.ui;
  auto& s = c.state;
  if (Holds(line, "0000: ")) {
    const double value = HexValue(CutRest(line, 7));
    ui.SfdText.SetText(WithoutLeadingBlanks(NumberText(static_cast<std::int64_t>(value))));
    ui.SfdButton.SetEnabled(false);
  } else if (Holds(line, "0004: ")) {
    s.EEPROM_VALUE_PCM = ToByte(HexValue(CutRest(line, 7)));
    std::int16_t index = 0;
    if (s.ProgramType == ProgramType::LineCardApp)
      index = s.EEPROM_VALUE_PCM > 4 ? (s.EEPROM_VALUE_PCM & 3) : 0;
    else if (s.ProgramType == ProgramType::CpeApp)
      index = s.EEPROM_VALUE_PCM == 1 ? 1 : 0;
    ui.GenericSelect.SetListIndex(index);
    ui.GenericButton.SetEnabled(false);
  } else if (Holds(line, "0005: ")) {
    const double value = HexValue(CutRest(line, 7));
    ui.V35Select.SetListIndex(value == 1 ? 1 : value == 2 ? 2 : 0);
    ui.V35Button.SetEnabled(false);
  }
}

void ParseRadioSettings(Console& c, std::string& line) {
  if (!Holds(line, "FF12: ")) return;
  const std::string cut = Cut(line, 7, 2);
  const std::uint8_t high = ToByte(HexValue(Cut(cut, 1, 1)));
  c.ui.TimeSlotText.SetText(NumberText(high % 4));
  // The low digit is the cut's last character: position 7 when the line ends there.
  const std::uint8_t low = ToByte(HexValue(cut.empty() ? std::string{} : cut.substr(cut.size() - 1)));
  c.ui.FrequencyText.SetText(NumberText(low % 4));
  c.ui.CdmaText.SetText(NumberText(low / 4));
}

void ParseTemperature(Console& c, std::string& line) {
  if (!Holds(line, "temperature: ")) return;
  const std::int16_t degrees = ToInt16(HexValue(Cut(line, 14, 4)));
  c.ui.TemperatureText.SetText(NumberText(degrees));
  RecordTrend(c, kNoCpe, Quantity::Temperature, degrees);
}

}  // namespace velmora
