// MSComm1 on a QSerialPort: COM numbers mapped to devices, receive and send events.
#pragma once

#include <QObject>
#include <QSerialPort>
#include <functional>
#include <vector>

#include "platform/qt/io/comm_events.h"
#include "platform/serial_port.h"
#include "serial/port_table.h"

namespace velmora {

// The serial devices the system reports, adapters marked.
std::vector<SystemPort> SystemSerialPorts();

class QtSerialPort : public QObject, public SerialPort {
  Q_OBJECT
 public:
  explicit QtSerialPort(PortTable table, QObject* parent = nullptr);

  void SetCommPort(int port) override { port_ = port; }
  int CommPort() const override { return port_; }
  OpenFailure Open() override;
  void Close() override;
  bool IsOpen() const override { return serial_.isOpen(); }
  bool Output(const std::string& bytes) override;
  std::string Input() override;
  CommEvent Event() const override { return events_.Event(); }
  void SetSThreshold(int n) override { events_.SetThreshold(n); }
  int SThreshold() const override { return events_.Threshold(); }
  std::string DeviceName(int port) const override;

  // Who keeps the devices behind the port numbers, when the table given at construction is
  // not the one in force (the console numbers devices that come and go).
  std::function<std::string(int port)> devices;

  // Characters waiting to be sent: Qt's buffer plus the driver's queue. Replaceable so that
  // tests can drive the send threshold.
  std::function<qint64()> waiting;

 private:
  void OnError(QSerialPort::SerialPortError error);
  qint64 DriverQueue() const;

  PortTable table_;
  QSerialPort serial_;
  CommEvents events_{*this, [this] { return waiting(); }};
  int port_ = 1;
};

}  // namespace velmora
