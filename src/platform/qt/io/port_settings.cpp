// Reading and writing the settings file, and the devices on this machine.
#include "platform/qt/io/port_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/qt/io/qt_serial_port.h"
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

}  // namespace velmora
