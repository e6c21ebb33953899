// The command line of the Terminal tab.
#pragma once

#include "platform/controls.h"

namespace velmora {

class Console;

void CommandLineButton_Click(Console& c);
// Enter sends; Up and Down recall earlier commands. Returns whether the key was used.
bool CommandLineText_KeyDown(Console& c, Key key);

}  // namespace velmora
