// Start-up and shut-down of the window, and the per-CPE status records.
#pragma once

#include <cstdint>

namespace velmora {

class Console;

void Form_Load(Console& c);
void Form_Unload(Console& c);
void ExitButton_Click(Console& c);
// Unloads GUI_Main: Form_Unload runs once, then the window goes away.
void UnloadMainWindow(Console& c);

// Throws ReplyError for an index outside 0 to 3, changing nothing.
void ResetCpeStatus(Console& c, const std::uint8_t& cpe);
void ShowCpeStatus(Console& c);

}  // namespace velmora
