// Reading and writing the settings file, and opening the Ports dialog from the window.
#include "platform/qt/port_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSaveFile>

#include "app/console.h"
#include "platform/qt/gui_main.h"
#include "platform/qt/ports_dialog.h"
#include "platform/qt/qt_serial_port.h"
#include "serial/network_address.h"

namespace velmora {

void ReadSettingsFile(PortSources& sources) {
  QFile file(QString::fromStdString(sources.filePath));
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    sources.fileError = "cannot be read: " + file.errorString().toStdString();
    return;
  }
  const QByteArray text = file.readAll();
  sources.fileText = std::string(text.constData(), static_cast<std::size_t>(text.size()));
}

std::string WriteSettingsFile(const std::string& path, const PortTable& table) {
  const QString name = QString::fromStdString(path);
  std::string old;
  if (QFile in(name); in.open(QIODevice::ReadOnly)) old = in.readAll().toStdString();
  QDir().mkpath(QFileInfo(name).absolutePath());
  QSaveFile out(name);
  const std::string text = PortsFileText(old, table);
  // Qt's buffer hides a full disk until flushed: flushed first, a failure keeps the old file.
  if (!out.open(QIODevice::WriteOnly) ||
      out.write(text.data(), static_cast<qint64>(text.size())) !=
          static_cast<qint64>(text.size()) ||
      !out.flush() || !out.commit())
    return path + " cannot be written: " + out.errorString().toStdString();
  return {};
}

std::vector<std::string> PinnableDevices() {
  std::vector<std::string> devices;
  for (const QFileInfo& link : QDir("/dev/serial/by-id").entryInfoList(QDir::System | QDir::Files))
    devices.push_back(link.absoluteFilePath().toStdString());
  for (const auto& port : SystemSerialPorts()) devices.push_back(port.device);
  return devices;
}

bool DevicePresent(const std::string& device) {
  return IsNetworkEntry(device) || QFileInfo::exists(QString::fromStdString(device));
}

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
