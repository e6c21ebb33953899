// The port list and opening the chosen port.
#pragma once

namespace velmora {

class Console;

void ScanCommPorts(Console& c);
void CommPortSelect_Click(Console& c);

}  // namespace velmora
