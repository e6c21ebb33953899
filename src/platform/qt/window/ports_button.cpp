#include "platform/qt/window/ports_button.h"

#include <QPushButton>

#include "app/console.h"
#include "platform/qt/io/port_settings.h"
#include "platform/qt/window/gui_main.h"
#include "platform/qt/window/ports_dialog.h"

namespace velmora {

void AddPortsButton(GuiMain& window, Console& console, PortSetup& setup, const std::string& path) {
  auto* button = new QPushButton("Ports...", &window);
  button->setObjectName("PortsButton");
  button->setToolTip("The port table: which device or terminal server each COM number leads to");
  button->setGeometry(window.PxX(3600), window.PxY(4440), window.PxX(960), window.PxY(288));
  QObject::connect(button, &QPushButton::clicked, &window, [&window, &console, &setup, path] {
    PortsDialog dialog(setup, PinnableDevices(), PortInUse(console), &window);
    dialog.present = DevicePresent;
    dialog.save = [&](const PortTable& table) {
      std::string failure = WriteSettingsFile(path, table);
      if (!failure.empty()) return failure;
      ChangePortTable(console, table, DevicePresent);
      setup.table = table;
      setup.origin.clear();
      for (const auto& entry : table) setup.origin[entry.first] = PortOrigin::SettingsFile;
      return failure;
    };
    dialog.exec();
  });
  button->show();
}

}  // namespace velmora
