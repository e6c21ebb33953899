// The sources of the port table, the settings file, and changing the table while the console
// runs.
#include "serial/port_setup.h"

#include "app/console.h"
#include "serial/network_address.h"
#include "serial/port_watch.h"

namespace velmora {
namespace {

constexpr std::size_t kFaultsShown = 6;

std::string_view TrimBlanks(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// The next line of `text`, taken off it.
std::string_view NextLine(std::string_view& text) {
  const auto end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  return line;
}

bool IsComment(std::string_view trimmed) {
  return trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#';
}

// QSettings puts keys before any section into [General].
bool PortKeyOutsideSections(std::string_view section, std::string_view trimmed) {
  const auto key = trimmed.substr(0, 3);
  return (section.empty() || section == "General") && trimmed.find('=') != std::string_view::npos &&
         (key == "COM" || key == "com");
}

// A value as QSettings reads it: quoted parts, backslash escapes, a comment after ';'.
bool IniValue(std::string_view raw, std::string& value, std::string& fault) {
  raw = TrimBlanks(raw);
  bool quoted = false;
  std::size_t kept = 0;  // what quotes and escapes hold is never trimmed
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char ch = raw[i];
    if (ch == '"') {
      quoted = !quoted;
      kept = value.size();
    } else if (!quoted && ch == ';') {
      break;
    } else if (!quoted && ch == ',') {
      fault = "a list of values (an address holding a comma goes in quotes)";
      return false;
    } else if (ch == '\\' && i + 1 < raw.size()) {
      const char e = raw[++i];
      value += e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e == '0' ? '\0' : e;
      kept = value.size();
    } else {
      value += ch;
      if (quoted) kept = value.size();
    }
  }
  if (quoted) {
    fault = "a quote is not closed";
    return false;
  }
  while (value.size() > kept && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  if (value.starts_with("@@")) value.erase(0, 1);
  return true;
}

// A value QSettings reads back as it is.
std::string IniQuoted(const std::string& value) {
  std::string out = value.starts_with('@') ? "@" + value : value;
  if (out.find_first_of(";,=\"\\") == std::string::npos && out.front() != ' ' && out.back() != ' ')
    return out;
  std::string quoted = "\"";
  for (const char ch : out) {
    if (ch == '"' || ch == '\\') quoted += '\\';
    quoted += ch;
  }
  return quoted + '"';
}

}  // namespace

const char* PortOriginName(PortOrigin origin) {
  switch (origin) {
    case PortOrigin::CommandLine:
      return "command line";
    case PortOrigin::Environment:
      return "VELMORA_PORTS";
    case PortOrigin::SettingsFile:
      return "settings file";
    case PortOrigin::System:
      break;
  }
  return "system";
}

PortSetup ChoosePorts(const PortSources& sources) {
  PortSetup setup;
  const auto take = [&setup](const PortTable& table, PortOrigin origin) {
    for (const auto& [port, device] : table)
      if (setup.table.emplace(port, device).second) setup.origin[port] = origin;
  };
  PortTable options;
  for (const auto& option : sources.options)
    if (const auto entry = ParsePortEntry(option, nullptr))
      options.emplace(entry->port, entry->device);
  take(options, PortOrigin::CommandLine);
  if (sources.environment) {
    std::vector<std::string> faults;
    take(ParsePortTable(*sources.environment, &faults), PortOrigin::Environment);
    for (const auto& fault : faults) setup.faults.push_back("VELMORA_PORTS: " + fault);
  }
  if (!sources.fileError.empty())
    setup.faults.push_back(sources.filePath + ": " + sources.fileError);
  if (sources.fileText) {
    const PortsFile file = ReadPortsFile(*sources.fileText);
    take(file.table, PortOrigin::SettingsFile);
    for (const auto& fault : file.faults) setup.faults.push_back(sources.filePath + ", " + fault);
  }
  setup.fixedNumbers = sources.environment || !setup.table.empty();
  if (!setup.fixedNumbers)
    take(DefaultPortTable(sources.scanSystem ? sources.scanSystem() : sources.system),
         PortOrigin::System);
  return setup;
}

std::string PortFaultsText(const std::vector<std::string>& faults) {
  if (faults.empty()) return {};
  std::string text = "These port entries are left out; the console uses the others.\n";
  for (std::size_t i = 0; i < faults.size() && i < kFaultsShown; ++i) text += "\n" + faults[i];
  if (faults.size() > kFaultsShown)
    text += "\n... and " + std::to_string(faults.size() - kFaultsShown) + " more.";
  return text;
}

PortsFile ReadPortsFile(std::string_view text) {
  PortsFile file;
  if (text.find('\0') != std::string_view::npos) {
    file.faults.push_back("line 1: not a settings file (it holds binary data)");
    return file;
  }
  std::string section;
  for (int number = 1; !text.empty(); ++number) {
    const std::string_view line = TrimBlanks(NextLine(text));
    std::string why;
    if (IsComment(line)) continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    const auto eq = line.find('=');
    std::string value;
    if (line.front() == '[')
      why = "a section's name ends with ]";
    else if (eq == std::string_view::npos)
      why = "not of the form KEY=VALUE";
    else if (PortKeyOutsideSections(section, line))
      why = "outside the [Ports] section";
    else if (section == "Ports" && IniValue(line.substr(eq + 1), value, why)) {
      const auto entry = ParsePortEntry(std::string(line.substr(0, eq)) + "=" + value, &why);
      if (entry && !file.table.emplace(entry->port, entry->device).second)
        why = "COM" + std::to_string(entry->port) + " is given twice";
    }
    if (!why.empty())
      file.faults.push_back("line " + std::to_string(number) + ": " + std::string(line) + ": " +
                            why);
  }
  return file;
}

std::string PortsFileText(std::string_view old, const PortTable& table) {
  std::string entries;
  for (const auto& [port, device] : table)
    entries += "COM" + std::to_string(port) + "=" + IniQuoted(device) + "\n";
  std::string out;
  std::string section;
  bool written = false;
  const auto write = [&] {
    if (section == "Ports" && !written) out += entries;
    written = written || section == "Ports";
  };
  while (!old.empty()) {
    const std::string_view line = NextLine(old);
    const std::string_view trimmed = TrimBlanks(line);
    if (!trimmed.empty() && trimmed.front() == '[') {
      write();
      section = trimmed.substr(1, trimmed.find(']') - 1);
    } else if (!IsComment(trimmed) &&
               (section == "Ports" || PortKeyOutsideSections(section, trimmed))) {
      // The table's own lines give way to the table, where its first one was.
      write();
      continue;
    }
    out += std::string(line) + "\n";
  }
  write();
  if (!written) out += (out.empty() ? "[Ports]\n" : "\n[Ports]\n") + entries;
  return out;
}

int PortInUse(const Console& c) {
  return c.MSComm1.IsOpen() ? c.MSComm1.CommPort() : 0;
}

void ChangePortTable(Console& c, const PortTable& table,
                     const std::function<bool(const std::string& device)>& present) {
  auto& w = c.portWatch;
  const int inUse = PortInUse(c);
  // Entries that go or lead elsewhere now leave the list as a device that goes does.
  const auto before = w.devices;
  for (const auto& [port, known] : before) {
    const auto it = table.find(port);
    if (port == inUse || (it != table.end() && it->second == known.path)) continue;
    if (w.awaiting == port) {
      w.awaiting = 0;
      if (w.watch) w.watch->StopProbing();
    }
    if (known.present) DeviceDisappeared(c, {known.path, known.id, known.place});
    w.devices.erase(port);
  }
  w.fixedNumbers = true;
  std::vector<std::string> paths, there;
  for (const auto& [port, device] : table) {
    if (!IsNetworkEntry(device)) paths.push_back(device);
    if (w.devices.count(port)) continue;
    w.devices[port] = {device, {}, {}, false, 0};
    if (present(device)) DeviceAppeared(c, {device, {}, {}});
  }
  for (const auto& [port, known] : w.devices)
    if (known.present && !IsNetworkEntry(known.path)) there.push_back(known.path);
  if (w.watch) w.watch->Watch(paths, there);
}

}  // namespace velmora
