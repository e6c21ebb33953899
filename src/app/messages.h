// Texts of the boxes that report a port or a file the console could not use: each names the
// thing it is about and keeps the system's own reason.
#pragma once

#include <string>

#include "platform/serial_port.h"

namespace velmora {

// "COM1 (/dev/ttyUSB0) is in use by another program." for a busy port, otherwise
// "COM2 (/dev/ttyUSB1) cannot be opened: <reason>." with any advice the port gave after it.
std::string PortOpenFailureText(int port, const std::string& device, const OpenFailure& failure);
// "The log file <path> cannot be opened for writing: <reason>."
std::string LogFileFailureText(const std::string& path, const std::string& reason);
// "Logging stopped: <path> cannot be written: <reason>."
std::string LogWriteFailureText(const std::string& path, const std::string& reason);
// "The program file <path> cannot be read: <reason>."
std::string ProgramFileFailureText(const std::string& path, const std::string& reason);

}  // namespace velmora
