#include "app/messages.h"

namespace velmora {
namespace {

// The reason as the end of a sentence; advice after a blank line stays as it came.
std::string Reason(const std::string& description) {
  const std::size_t advice = description.find("\n\n");
  std::string reason = description.substr(0, advice);
  if (reason.empty()) reason = "unknown error";
  if (reason.back() != '.') reason += '.';
  return advice == std::string::npos ? reason : reason + description.substr(advice);
}

}  // namespace

std::string PortOpenFailureText(int port, const std::string& device, const OpenFailure& failure) {
  const std::string name =
      "COM" + std::to_string(port) + (device.empty() ? "" : " (" + device + ")");
  if (failure.number == kCommErrorPortBusy) return name + " is in use by another program.";
  std::string description = failure.description;
  // Some reasons begin with the device's name, which the text gives already.
  if (!device.empty() && description.rfind(device + ": ", 0) == 0)
    description.erase(0, device.size() + 2);
  return name + " cannot be opened: " + Reason(description);
}

std::string LogFileFailureText(const std::string& path, const std::string& reason) {
  return "The log file " + path + " cannot be opened for writing: " + Reason(reason);
}

std::string LogWriteFailureText(const std::string& path, const std::string& reason) {
  return "Logging stopped: " + path + " cannot be written: " + Reason(reason);
}

std::string ProgramFileFailureText(const std::string& path, const std::string& reason) {
  return "The program file " + path + " cannot be read: " + Reason(reason);
}

}  // namespace velmora
