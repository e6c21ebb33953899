// Starts the console: Qt platform, the console core, the window GUI_Main.
#include <QApplication>
#include <cstdlib>
#include <optional>

#include "app/console.h"
#include "app/lifecycle.h"
#include "platform/qt/gui_main.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/qt_serial_port.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(velmora::kApplicationTitle);

  std::optional<std::string> explicitPorts;
  if (const char* env = std::getenv("VELMORA_PORTS")) explicitPorts = env;
  velmora::QtSerialPort port(velmora::ChoosePortTable(explicitPorts, velmora::SystemSerialPorts()));
  velmora::QtTimer transmitTimer;
  velmora::QtTimer downloadTimer;
  velmora::QtFiles files;
  velmora::QtFileChooser chooser;
  velmora::QtMessageBox messages;
  velmora::QtEventPump pump;

  velmora::Console console({port, transmitTimer, downloadTimer, files, chooser, messages, pump});
  pump.runDeferred = [&console] { console.RunDeferred(); };
  velmora::Form_Load(console);

  velmora::GuiMain window(console);
  chooser.parent = &window;
  messages.parent = &window;
  window.show();
  return app.exec();
}
