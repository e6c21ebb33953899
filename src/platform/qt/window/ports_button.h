// The window's way to the Ports dialog.
#pragma once

#include <string>

#include "serial/port_setup.h"

namespace velmora {

class Console;
class GuiMain;

// A small "Ports..." button right of the port list, in the room before the Exit button; it opens
// the Ports dialog, whose saved table the console takes on at once.
void AddPortsButton(GuiMain& window, Console& console, PortSetup& setup, const std::string& path);

}  // namespace velmora
