// Starts the console: Qt platform, the console core, the window GUI_Main.
#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/console.h"
#include "app/lifecycle.h"
#include "platform/qt/io/command_line.h"
#include "platform/qt/io/port_settings.h"
#include "platform/qt/io/qt_device_watch.h"
#include "platform/qt/io/qt_network_port.h"
#include "platform/qt/io/qt_platform.h"
#include "platform/qt/io/qt_serial_port.h"
#include "platform/qt/window/automation.h"
#include "platform/qt/window/gui_main.h"
#include "platform/qt/window/ports_button.h"
#include "platform/qt/window/qt_dialogs.h"
#include "platform/qt/window/window_icon.h"
#include "recorder/console_recording.h"
#include "recorder/replay_port.h"
#include "serial/port_setup.h"
#include "serial/port_switch.h"
#include "serial/port_watch.h"

int main(int argc, char** argv) {
  const velmora::CommandLine options = velmora::ReadCommandLine(argc, argv, VELMORA_VERSION);
  if (options.exitStatus) return *options.exitStatus;
  QApplication app(argc, argv);
  QApplication::setApplicationName(velmora::kApplicationTitle);
  // The desktop entry's id and icon, so that a desktop shell groups the window with its launcher.
  QGuiApplication::setDesktopFileName(QStringLiteral(VELMORA_APP_ID));
  QApplication::setWindowIcon(
      velmora::LazyIcon({QStringLiteral(":/icons/48.png"), QStringLiteral(":/icons/256.png")}));
  // Tests and the screenshot script drive the real window through standard input.
  const bool automated = qEnvironmentVariable("VELMORA_AUTOMATION") == "1";

  velmora::PortSources sources;
  sources.options = options.ports;
  if (const char* env = std::getenv("VELMORA_PORTS")) sources.environment = env;
  sources.filePath = options.portsFile.value_or(velmora::DefaultPortsFile());
  velmora::ReadSettingsFile(sources);
  // The system's ports are listed only when no other source names one, and that list is the
  // device watch's first look too.
  velmora::QtDeviceWatch deviceWatch;
  sources.scanSystem = [&deviceWatch] { return deviceWatch.ScanAtStart(); };
  velmora::PortSetup ports = velmora::ChoosePorts(sources);
  velmora::QtSerialPort localPort(velmora::PortTable{});  // the console tells it the devices
  velmora::QtNetworkPort networkPort;
  velmora::PortSwitch port(localPort, networkPort);
  velmora::QtTimer replayTimer;
  velmora::ReplayPort replayPort(replayTimer);
  port.AddReplay(replayPort);
  // Always recording: the ring's size in megabytes is a setting of the settings file
  // ([Recording] limitMegabytes), read only.
  const auto limitMb = QSettings(QString::fromStdString(sources.filePath), QSettings::IniFormat)
                           .value("Recording/limitMegabytes", 256)
                           .toULongLong();
  velmora::Recorder recorder(
      velmora::RecordingFolder(std::getenv("VELMORA_RECORDING_DIR"), std::getenv("XDG_STATE_HOME"),
                               std::getenv("HOME")),
      limitMb ? limitMb << 20 : velmora::kDefaultRecordingLimit, velmora::SystemClock());
  velmora::RecordingPort recordedPort(port, recorder);
  QTimer flushTimer;
  QObject::connect(&flushTimer, &QTimer::timeout, [&recorder] { recorder.Flush(); });
  flushTimer.start(500);
  velmora::QtTimer transmitTimer;
  velmora::QtTimer downloadTimer;
  velmora::QtFiles files;
  velmora::QtFileChooser chooser;
  velmora::ScriptedFileChooser scriptedChooser;
  velmora::QtMessageBox messages;
  velmora::QtEventPump pump;

  velmora::FileChooser& dialog =
      automated ? static_cast<velmora::FileChooser&>(scriptedChooser) : chooser;
  // VELMORA_RECORDING=off: no recording (the benchmark's comparison).
  const bool recording = qEnvironmentVariable("VELMORA_RECORDING") != "off";
  velmora::SerialPort& consolePort =
      recording ? static_cast<velmora::SerialPort&>(recordedPort) : port;
  velmora::Console console({consolePort, transmitTimer, downloadTimer, files, dialog, messages, pump});
  pump.runDeferred = [&console] { console.RunDeferred(); };
  if (recording) velmora::UseRecorder(console, recorder);
  // The console keeps the devices behind the numbers; the port opens what it is told.
  velmora::UsePortTable(console, ports.table, ports.fixedNumbers);
  localPort.devices = [&console](int n) { return velmora::PortDevice(console, n); };
  networkPort.devices = localPort.devices;
  replayPort.devices = localPort.devices;
  replayPort.onEnded = [&console](const std::string& file, const velmora::CommandComparison& sent,
                                  const std::optional<velmora::ReadFault>& fault) {
    velmora::ReplayEnded(console, file, sent, fault);
  };
  velmora::Form_Load(console);
  velmora::WatchPorts(console, deviceWatch);

  velmora::GuiMain window(console);
  chooser.parent = &window;
  messages.parent = &window;
  std::unique_ptr<velmora::Automation> automation;
  if (automated)
    automation = std::make_unique<velmora::Automation>(window, scriptedChooser, messages);
  velmora::AddPortsButton(window, console, ports, sources.filePath);
  window.show();
  // Entries left out are named once, over the window, which starts with the sound ones.
  if (!ports.faults.empty())
    QTimer::singleShot(0, &window,
                       [&] { messages.Warning(velmora::PortFaultsText(ports.faults)); });
  return app.exec();
}
