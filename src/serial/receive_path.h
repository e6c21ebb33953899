// The path of every received character: terminal pane, line assembly or download, log.
#pragma once

#include <cstddef>
#include <string>

namespace velmora {

class Console;

// The terminal pane keeps the newest characters only.
constexpr std::size_t kTerminalCapacity = 10000;
// An unterminated line longer than this is noise (a wrong baud rate): only its end is kept.
constexpr std::size_t kMaxUnterminatedLine = 4096;

void MSComm1_OnComm(Console& c);
// Appends to RxBuffer and dispatches every complete line in it, in order.
void SplitReceivedLines(Console& c, std::string text);
void AppendTerminal(Console& c, std::string text);
// The open port failed (adapter pulled, other end gone); it is already closed.
void PortLost(Console& c, const std::string& description);

}  // namespace velmora
