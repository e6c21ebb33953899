// Operational state, frame-sync losses and signal strength.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

class Console;

std::string DescribeOpState(std::uint8_t code);
void ParseOpStatus(Console& c, std::string& line);
void ParseSfdLossCount(Console& c, std::string& line);
void ParseSignalStrength(Console& c, std::string& line);

// The CPE a line card message is about: the two hexadecimal characters behind "Subscriber ".
std::uint8_t SubscriberNumber(const std::string& line);

}  // namespace velmora
