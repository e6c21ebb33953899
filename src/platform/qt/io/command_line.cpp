// Reading the command line with QCommandLineParser, on a core application that needs no display.
#include "platform/qt/io/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStandardPaths>
#include <cstdio>
#include <set>

#include "serial/port_table.h"

namespace velmora {
namespace {

constexpr const char* kDescription =
    "Maintenance console for the radio card.\n"
    "\n"
    "Ports: each of COM1 to COM8 leads to a serial device, a /dev/serial/by-id/ link, or a\n"
    "terminal server's tcp://HOST:PORT or rfc2217://HOST:PORT. The command line goes before\n"
    "VELMORA_PORTS, which goes before the settings file; when none of them names a port, the\n"
    "console lists the serial devices the system reports.";

// Qt's own options for every window program; QApplication takes them later.
constexpr const char* kToolkitOptions[] = {
    "platform",   "platformpluginpath", "platformtheme", "plugin",      "display", "style",
    "stylesheet", "qwindowgeometry",    "qwindowtitle",  "qwindowicon", "session", "reverse"};

int Fail(const QString& message) {
  std::fprintf(stderr, "velmora: %s\n", qUtf8Printable(message));
  return 2;
}

}  // namespace

std::string DefaultPortsFile() {
  return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
          "/velmora/velmora.conf")
      .toStdString();
}

CommandLine ReadCommandLine(int argc, char** argv, const char* version) {
  CommandLine result;
  QCoreApplication core(argc, argv);
  QCoreApplication::setApplicationName("velmora");
  QCoreApplication::setApplicationVersion(version);
  QCommandLineParser parser;
  parser.setApplicationDescription(kDescription);
  // "-platform offscreen", as Qt's programs take it.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption showVersion = parser.addVersionOption();
  const QCommandLineOption port(
      "port",
      "Port COMn leads to ADDRESS: a device, a by-id link or a terminal server (repeatable).",
      "COMn=ADDRESS");
  const QCommandLineOption portsFile(
      "ports-file",
      "The settings file the port table is read from and the Ports dialog saves to (default: " +
          QString::fromStdString(DefaultPortsFile()) + ").",
      "PATH", QString::fromStdString(DefaultPortsFile()));
  parser.addOptions({port, portsFile});
  for (const char* name : kToolkitOptions) {
    QCommandLineOption option(name, {}, QString(name) == "reverse" ? "" : "value");
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  if (!parser.parse(QCoreApplication::arguments())) {
    result.exitStatus = Fail(parser.errorText());
    return result;
  }
  if (parser.isSet(help)) {
    std::fputs(qUtf8Printable(parser.helpText()), stdout);
    result.exitStatus = 0;
    return result;
  }
  if (parser.isSet(showVersion)) {
    std::printf("velmora %s\n", version);
    result.exitStatus = 0;
    return result;
  }
  if (!parser.positionalArguments().isEmpty()) {
    result.exitStatus = Fail("Unexpected argument '" + parser.positionalArguments().first() + "'.");
    return result;
  }
  std::set<int> numbers;
  for (const QString& value : parser.values(port)) {
    std::string fault;
    const auto entry = ParsePortEntry(value.toStdString(), &fault);
    if (entry && !numbers.insert(entry->port).second)
      fault = "COM" + std::to_string(entry->port) + " is given twice";
    if (!fault.empty()) {
      result.exitStatus = Fail("--port " + value + ": " + QString::fromStdString(fault));
      return result;
    }
    result.ports.push_back(value.toStdString());
  }
  result.portsFile = parser.value(portsFile).toStdString();
  return result;
}

}  // namespace velmora
