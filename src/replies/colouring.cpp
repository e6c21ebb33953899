// Status field colouring. A text whose number does not fit its range (only an engineer's typing
// could give one) is shown red, as a value that cannot be trusted.
#include "replies/colouring.h"

#include "app/console.h"
#include "replies/reply_text.h"

namespace velmora {

void OpStateText_Change(Console& c) {
  const std::string& text = c.ui.OpStateText.Text();
  c.ui.OpStateText.SetBackColor(text == "Ranging" ? kYellow : text == "Locked" ? kGreen : kRed);
}

void RssiText_Change(Console& c) {
  Color colour = kRed;
  try {
    const std::uint8_t v = ToByte(DecimalValue(c.ui.RssiText.Text()));
    colour = v <= 5 ? kRed : v <= 8 ? kYellow : kGreen;
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
      colour = n <= 3 ? kGreen : n <= 10 ? kYellow : kRed;
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
      const std::int16_t t = ToInt16(DecimalValue(text));
      if (t > 60 || t < -30)
        colour = kRed;
      else if (t >= 40 || t <= -20)
        colour = kYellow;
      else
        colour = kGreen;
    }
  } catch (const ReplyError&) {
  }
  c.ui.TemperatureText.SetBackColor(colour);
}

}  // namespace velmora
