// Where the port table comes from: the command line over VELMORA_PORTS over the settings file
// over the devices the system reports; the settings file itself; and a table changed while the
// console runs.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_table.h"

namespace velmora {

class Console;

enum class PortOrigin { CommandLine, Environment, SettingsFile, System };
// "command line", "VELMORA_PORTS", "settings file", "system".
const char* PortOriginName(PortOrigin origin);

struct PortSources {
  std::vector<std::string> options{};      // each --port value
  std::optional<std::string> environment{};  // VELMORA_PORTS, when it is set
  std::string filePath{};                   // the settings file, as its messages name it
  std::optional<std::string> fileText{};    // nothing: there is no such file
  std::string fileError{};                  // why it could not be read, when it could not
  std::vector<SystemPort> system{};
  // When set, asked for the system's devices instead of system, and only when no other source
  // names a port: listing them costs a start-up time of its own.
  std::function<std::vector<SystemPort>()> scanSystem{};
};

struct PortSetup {
  PortTable table{};
  std::map<int, PortOrigin> origin{};
  // Any source but the system named a port (or VELMORA_PORTS is set): only its numbers count.
  bool fixedNumbers = false;
  std::vector<std::string> faults{}; // each names where it is and what is wrong
};

// Per COM number, the first source that names it.
PortSetup ChoosePorts(const PortSources& sources);
// What the console says once about entries it left out; empty when there are none.
std::string PortFaultsText(const std::vector<std::string>& faults);

// The settings file: an INI file as QSettings reads it, the table in its [Ports] section
// ("COM1=/dev/serial/by-id/..."); other sections are left for other settings.
struct PortsFile {
  PortTable table{};
  std::vector<std::string> faults{}; // "line N: LINE: WHY"
};
PortsFile ReadPortsFile(std::string_view text);
// `old` with `table` as its [Ports] entries; comments and other sections stay as they are.
std::string PortsFileText(std::string_view old, const PortTable& table);

// The port open just now (0: none): the table may not change its entry.
int PortInUse(const Console& c);
// The engineer changed the table while the console runs: entries go and come as devices do,
// without a click, and the port in use keeps its entry and its connection.
void ChangePortTable(Console& c, const PortTable& table,
                     const std::function<bool(const std::string& device)>& present);

}  // namespace velmora
