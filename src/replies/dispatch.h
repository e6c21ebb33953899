// Classifying each received line: program detection and the reply parsers.
#pragma once

#include <string>

namespace velmora {

class Console;

// Classifies ResponseLine. A ReplyError from a parser ends the line's handling.
void DispatchResponseLine(Console& c);
void ParseVersions(Console& c, std::string& line);

}  // namespace velmora
