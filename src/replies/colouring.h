// The warning colours of the four status fields, from their text alone.
#pragma once

namespace velmora {

class Console;

void OpStateText_Change(Console& c);
void RssiText_Change(Console& c);
void SfdLossText_Change(Console& c);
void TemperatureText_Change(Console& c);

}  // namespace velmora
