// The console's command-line options, read before any window so that --help, --version and a
// bad option need no display.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora {

struct CommandLine {
  std::vector<std::string> ports;        // each --port COMn=ADDRESS, checked
  std::optional<std::string> portsFile;  // --ports-file PATH
  // Set when the program is done: --help or --version printed (0), or a bad option named on
  // standard error (2).
  std::optional<int> exitStatus;
};

CommandLine ReadCommandLine(int argc, char** argv, const char* version);

// The settings file when no --ports-file names one: velmora/velmora.conf in the user's
// configuration folder ($XDG_CONFIG_HOME, ~/.config by default).
std::string DefaultPortsFile();

}  // namespace velmora
