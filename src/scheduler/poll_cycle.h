// The poll cycle: every 100 ms, the queued requests and the status poll of the card.
#pragma once

#include <string_view>

namespace velmora {

class Console;

void TransmitTimer_Timer(Console& c);
// Writes one command and its CR LF as one write; a failed write is left to the port's own
// failure handling.
void SendCommand(Console& c, std::string_view command);

}  // namespace velmora
