// Settings edits only queue requests; the poll cycle sends them on its next tick.
#include "scheduler/settings_edits.h"

#include <algorithm>

#include "app/console.h"
#include "app/lifecycle.h"
#include "replies/numbers.h"

namespace velmora {
namespace {

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

}  // namespace

void SfdText_KeyPress(Console&, std::int16_t& keyAscii) {
  if (!(keyAscii >= '0' && keyAscii <= '9') && keyAscii != 8) keyAscii = 0;
}

std::string SfdText_UserText(std::string text) {
  // A pasted word would otherwise read as 0 and queue a write of 0.
  text.erase(std::remove_if(text.begin(), text.end(), [](char ch) { return !IsDigit(ch); }),
             text.end());
  return text;
}

void SfdText_Change(Console& c) { c.ui.SfdButton.SetEnabled(!c.ui.SfdText.Text().empty()); }

void SfdButton_Click(Console& c) {
  // Above 255, however many digits, the card gets 255: even a number of more digits than a
  // double can hold, which reads as an overflow. A negative value (only a read-back can show
  // one) has no byte to write, so nothing is queued.
  std::int32_t value = 255;
  try {
    const double v = NumberFromText(c.ui.SfdText.Text());
    if (v < 255) value = ToInt32(v);
  } catch (const ReplyError&) {
  }
  if (value < 0) return;
  c.state.SfdWriteValue = value;
  c.state.SfdWritePending = true;
}

void GenericSelect_Click(Console& c) { c.ui.GenericButton.SetEnabled(true); }
void GenericButton_Click(Console& c) { c.state.GenericWritePending = true; }
void V35Select_Click(Console& c) { c.ui.V35Button.SetEnabled(true); }
void V35Button_Click(Console& c) { c.state.V35WritePending = true; }

void CpeSelect_Click(Console& c) {
  const std::int16_t i = c.ui.CpeSelect.ListIndex();
  if (i == c.state.SelectedCpe || i < 0 || i > 3) return;
  c.state.SelectedCpe = static_cast<std::uint8_t>(i);
  ShowCpeStatus(c);
}

}  // namespace velmora
