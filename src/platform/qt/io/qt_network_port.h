// MSComm1 on a serial line a terminal server puts on the network: raw TCP or Telnet with the
// COM port control option, on a QTcpSocket.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <optional>

#include "platform/qt/io/comm_events.h"
#include "platform/serial_port.h"
#include "serial/network_address.h"
#include "serial/remote_line.h"
#include "serial/telnet_client.h"

namespace velmora {

class QtNetworkPort : public QObject, public SerialPort {
  Q_OBJECT
 public:
  explicit QtNetworkPort(QObject* parent = nullptr);

  void SetCommPort(int port) override { port_ = port; }
  int CommPort() const override { return port_; }
  // Starts connecting and counts as open from then on; a connection that fails is reported
  // through onOpenFailed.
  OpenFailure Open() override;
  void Close() override;
  bool IsOpen() const override { return state_ != State::Closed; }
  bool Output(const std::string& bytes) override;
  std::string Input() override;
  CommEvent Event() const override { return events_.Event(); }
  void SetSThreshold(int n) override { events_.SetThreshold(n); }
  int SThreshold() const override { return events_.Threshold(); }
  std::string DeviceName(int port) const override { return devices ? devices(port) : ""; }

  // The address behind a port number.
  std::function<std::string(int port)> devices;
  // How long a connection may take.
  int connectTimeoutMs = 5000;

 private:
  enum class State { Closed, Waiting, Connecting, Settling, Connected };
  void Connect();
  void OnConnected();
  void OnReadyRead();
  void OnSettled();
  void Fail(const std::string& reason);
  void Send(const std::string& wire);
  qint64 Waiting() const;
  std::string Name() const;

  QTcpSocket socket_;
  QTimer connectTimer_;
  QTimer settleTimer_;
  QElapsedTimer clock_;
  State state_ = State::Closed;
  NetworkAddress address_;
  std::optional<TelnetClient> telnet_;
  RemoteLineQueue line_;
  std::string received_;
  std::string pending_;    // written before the connection settled
  std::string telnetOut_;  // Telnet's own words, held as long as pending_
  CommEvents events_{*this, [this] { return Waiting(); }};
  int port_ = 1;
};

// Asks a terminal server every two seconds whether it accepts connections again; the first
// connection it accepts is closed at once and reported.
class QtServerProbe : public QObject {
  Q_OBJECT
 public:
  QtServerProbe();
  void Start(const std::string& address);
  void Stop();
  std::function<void(const std::string& address)> onAnswered;

 private:
  void Try();
  void Retry();

  QTcpSocket socket_;
  QTimer retry_;
  QTimer timeout_;
  std::string address_;
};

}  // namespace velmora
