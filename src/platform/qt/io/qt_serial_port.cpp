#include "platform/qt/io/qt_serial_port.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

namespace velmora {

std::vector<SystemPort> SystemSerialPorts() {
  std::vector<SystemPort> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    const QString name = info.portName();
    ports.push_back({info.systemLocation().toStdString(),
                     name.startsWith("ttyUSB") || name.startsWith("ttyACM")});
  }
  // Natural order, so that ttyUSB2 comes before ttyUSB10.
  std::stable_sort(ports.begin(), ports.end(), [](const SystemPort& a, const SystemPort& b) {
    return a.device.size() != b.device.size() ? a.device.size() < b.device.size()
                                              : a.device < b.device;
  });
  return ports;
}

QtSerialPort::QtSerialPort(PortTable table, QObject* parent)
    : QObject(parent), table_(std::move(table)) {
  waiting = [this] { return serial_.bytesToWrite() + DriverQueue(); };
  connect(&serial_, &QSerialPort::readyRead, this, [this] { events_.Raise(CommEvent::Receive); });
  connect(&serial_, &QSerialPort::bytesWritten, this, [this] { events_.Check(); });
  connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialPort::OnError);
}

std::string QtSerialPort::DeviceName(int port) const {
  if (devices) return devices(port);
  const auto it = table_.find(port);
  return it == table_.end() ? std::string{} : it->second;
}

OpenFailure QtSerialPort::Open() {
  if (serial_.isOpen()) return {kCommErrorPortBusy, "Port already open"};
  const std::string device = DeviceName(port_);
  if (device.empty()) return {kCommErrorNoSuchPort, "Invalid port number"};
  // The canonical path, so that the lock file names the real device and two names of one
  // port cannot both be opened.
  const QString canonical = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
  if (canonical.isEmpty()) return {kCommErrorNoSuchPort, device + ": No such file or directory"};
  serial_.setPortName(canonical);
  if (!serial_.open(QIODevice::ReadWrite)) {
    const QSerialPort::SerialPortError error = serial_.error();
    const std::string text = serial_.errorString().toStdString();
    serial_.clearError();
    if (error == QSerialPort::DeviceNotFoundError) return {kCommErrorNoSuchPort, text};
    if (error == QSerialPort::PermissionError &&
        text.find("Permission denied") != std::string::npos)
      return {kCommErrorCannotOpen,
              text +
                  "\n\nTo use serial ports, your user must be a member of the 'dialout' "
                  "group (sudo usermod -aG dialout $USER, then log in again)."};
    // Locked by another program, or held exclusively (EBUSY).
    if (error == QSerialPort::PermissionError) return {kCommErrorPortBusy, text};
    return {kCommErrorCannotOpen, text};
  }
  // Fixed line settings. Modem-line calls fail on pseudo-terminals; nothing depends on them.
  serial_.setBaudRate(57600);
  serial_.setDataBits(QSerialPort::Data8);
  serial_.setParity(QSerialPort::NoParity);
  serial_.setStopBits(QSerialPort::OneStop);
  serial_.setFlowControl(QSerialPort::NoFlowControl);
  serial_.clearError();
  return {};
}

void QtSerialPort::Close() {
  events_.Reset();
  if (serial_.isOpen()) serial_.close();
  serial_.clearError();
}

bool QtSerialPort::Output(const std::string& bytes) {
  if (!serial_.isOpen()) return false;
  const qint64 n = serial_.write(bytes.data(), static_cast<qint64>(bytes.size()));
  if (n != static_cast<qint64>(bytes.size())) return false;
  events_.Wrote();
  return true;
}

std::string QtSerialPort::Input() {
  if (!serial_.isOpen()) return {};
  const QByteArray data = serial_.readAll();
  return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

qint64 QtSerialPort::DriverQueue() const {
  int queued = 0;
  if (serial_.isOpen() && ::ioctl(serial_.handle(), TIOCOUTQ, &queued) == 0) return queued;
  return 0;
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error) {
  if (error != QSerialPort::ReadError && error != QSerialPort::WriteError &&
      error != QSerialPort::ResourceError)
    return;
  if (!serial_.isOpen()) return;
  // Qt's own text for a line that went away describes whatever error came last (often an
  // ioctl refused at opening), so the console says what happened in its own words.
  const std::string description = "The connection to COM" + std::to_string(port_) + " (" +
                                  DeviceName(port_) +
                                  ") was lost: the adapter was removed or the line was closed.";
  // Close at once: a port whose device went away reports errors in a busy loop. The console
  // defers its own handling until this signal's stack has unwound.
  Close();
  if (onLost) onLost(description);
}

}  // namespace velmora
