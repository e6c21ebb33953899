// EEPROM read-backs, the switch-set radio settings and the temperature.
#pragma once

#include <string>

namespace velmora {

class Console;

void ParseEepromRead(Console& c, std::string& line);
void ParseRadioSettings(Console& c, std::string& line);
void ParseTemperature(Console& c, std::string& line);

}  // namespace velmora
