// The port list and opening the chosen port.
#pragma once

#include "platform/serial_port.h"

namespace velmora {

class Console;

void ScanCommPorts(Console& c);
void CommPortSelect_Click(Console& c);
// The port `port`, which opened in the background, failed to open after all.
void PortOpenFailed(Console& c, int port, const OpenFailure& failure);

}  // namespace velmora
