// The engineer's edits of the EEPROM settings, and the choice of the CPE shown.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

class Console;

void SfdText_KeyPress(Console& c, std::int16_t& keyAscii);
// What is left of text a person pastes into SfdText: its digits.
std::string SfdText_UserText(std::string text);
void SfdText_Change(Console& c);
void SfdButton_Click(Console& c);
void GenericSelect_Click(Console& c);
void GenericButton_Click(Console& c);
void V35Select_Click(Console& c);
void V35Button_Click(Console& c);
void CpeSelect_Click(Console& c);

}  // namespace velmora
