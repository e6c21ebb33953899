// Logging everything received to a file.
#pragma once

#include <string>

namespace velmora {

class Console;

void LoggingButton_Click(Console& c);
// The log write of the receive path: the received bytes, raw.
void WriteLog(Console& c, const std::string& received);

}  // namespace velmora
