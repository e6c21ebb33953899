// Status field colouring. A text whose number does not fit its range (only an engineer's typing
// could give one) is shown red, as a value that cannot be trusted.
#include "replies/colouring.h"

#include "app/console.h"
#include "replies/reply_text.h"

namespace velmora {

Color BandColour(std::span<const ColourBand> bands, int value) {
  for (const ColourBand& band : bands)
    if (value <= band.upTo) return band.colour;
  return bands.back().colour;
}

void OpStateText_Change(Console& c) {
  const std::string& text = c.ui.OpStateText.Text();
  c.ui.OpStateText.SetBackColor(text == "Ranging" ? kYellow : text == "Locked" ? kGreen : kRed);
}

void RssiText_Change(Console& c) {
  Color colour = kRed;
  try {
    const std::uint8_t v = ToByte(DecimalValue(c.ui.RssiText.Text()));
    colour = BandColour(kRssiBands, v);
  } catch (const ReplyError&) {
  }
  c.ui.RssiText.SetBackColor(colour);
}

void SfdLossText_Change(Console& c) {
  const std::string& text = c.ui.SfdLossText.Text();
  Color colour = kRed;
  try {
    if (!text.empty()) {
      const std::int32_t n = ToInt32(DecimalValue(text));
      colour = BandColour(kSfdLossBands, n);
    }
  } catch (const ReplyError&) {
  }
  c.ui.SfdLossText.SetBackColor(colour);
}

void TemperatureText_Change(Console& c) {
  const std::string& text = c.ui.TemperatureText.Text();
  Color colour = kRed;
  try {
    if (!text.empty()) {
      colour = BandColour(kTemperatureBands, ToInt16(DecimalValue(text)));
    }
  } catch (const ReplyError&) {
  }
  c.ui.TemperatureText.SetBackColor(colour);
}

}  // namespace velmora
