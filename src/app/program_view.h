// Reshaping the window for the program the card runs.
#pragma once

#include <cstdint>

namespace velmora {

class Console;

// 0 Unknown, 1 BootLoader, 2 LineCardApp, 3 CpeApp; any other value does nothing.
void ApplyProgramView(Console& c, const std::int32_t& programType);

// "UNKNOWN", "BOOT LOADER", "LINE CARD APP" or "CPE APP"; empty for any other value.
const char* ProgramTypeText(std::int32_t programType);

}  // namespace velmora
