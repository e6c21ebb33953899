// Hook and ring states of the telephone lines.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

class Console;

std::string HookStateText(std::uint8_t code);
std::string RingStateText(std::uint8_t code);
void ParseHookState(Console& c, std::string& line);
void ParseRingState(Console& c, std::string& line);

}  // namespace velmora
