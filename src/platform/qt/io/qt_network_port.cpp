#include "platform/qt/io/qt_network_port.h"

#ifdef __linux__
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include <utility>

namespace velmora {
namespace {

// A terminal server that cannot give the line away says so and hangs up at once.
constexpr int kSettleMs = 300;

// A network that falls silent (a pulled cable, a VPN that drops, a terminal server without
// power) sends no reset, and the kernel would retransmit for about 15 minutes. Polls left
// unanswered this long end the connection; when nothing is sent, keep-alive probes ask after
// two idle seconds, once a second.
constexpr int kSilenceMs = 5000;
constexpr int kKeepAliveIdleS = 2;
constexpr int kKeepAliveIntervalS = 1;
constexpr int kKeepAliveProbes = 3;

void GiveUpOnSilence(QTcpSocket& socket) {
#ifdef __linux__
  const qintptr fd = socket.socketDescriptor();
  const auto set = [fd](int level, int name, int value) {
    ::setsockopt(static_cast<int>(fd), level, name, &value, sizeof value);
  };
  set(SOL_SOCKET, SO_KEEPALIVE, 1);
  set(IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleS);
  set(IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalS);
  set(IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
  set(IPPROTO_TCP, TCP_USER_TIMEOUT, kSilenceMs);
#else
  // Elsewhere the system's own keep-alive times apply.
  socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
#endif
}

}  // namespace

QtNetworkPort::QtNetworkPort(QObject* parent) : QObject(parent) {
  clock_.start();
  connectTimer_.setSingleShot(true);
  settleTimer_.setSingleShot(true);
  settleTimer_.setInterval(kSettleMs);
  connect(&connectTimer_, &QTimer::timeout, this, [this] {
    Fail("No answer from the server within " + std::to_string(connectTimeoutMs / 1000) +
         " seconds");
  });
  connect(&settleTimer_, &QTimer::timeout, this, &QtNetworkPort::OnSettled);
  connect(&socket_, &QTcpSocket::connected, this, &QtNetworkPort::OnConnected);
  connect(&socket_, &QTcpSocket::readyRead, this, &QtNetworkPort::OnReadyRead);
  connect(&socket_, &QTcpSocket::bytesWritten, this, [this] { events_.Check(); });
  connect(&socket_, &QTcpSocket::errorOccurred, this,
          [this] { Fail(socket_.errorString().toStdString()); });
  connect(&socket_, &QTcpSocket::disconnected, this,
          [this] { Fail("The server closed the connection"); });
}

std::string QtNetworkPort::Name() const {
  return "COM" + std::to_string(port_) + " (" + DeviceName(port_) + ")";
}

OpenFailure QtNetworkPort::Open() {
  if (IsOpen()) return {kCommErrorPortBusy, "Port already open"};
  const auto address = ParseNetworkAddress(DeviceName(port_));
  if (!address) return {kCommErrorNoSuchPort, "Invalid port number"};
  address_ = *address;
  telnet_.reset();
  if (address_.scheme == NetworkAddress::Scheme::Rfc2217) telnet_.emplace();
  line_.Clear();
  received_.clear();
  pending_.clear();
  // The connection starts once the caller is done: the start-up scan, which opens and closes
  // every port at once, never reaches the network.
  state_ = State::Waiting;
  QTimer::singleShot(0, this, [this] {
    if (state_ == State::Waiting) Connect();
  });
  return {};
}

void QtNetworkPort::Connect() {
  state_ = State::Connecting;
  connectTimer_.start(connectTimeoutMs);
  socket_.connectToHost(QString::fromStdString(address_.host), static_cast<quint16>(address_.port));
}

void QtNetworkPort::OnConnected() {
  if (state_ != State::Connecting) return;
  connectTimer_.stop();
  socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
  GiveUpOnSilence(socket_);
  // Nothing goes out while the server may still refuse: it would hang up on bytes it never
  // read, and the reset that brings can come before its words are read here.
  state_ = State::Settling;
  settleTimer_.start();
  if (telnet_) telnetOut_ = telnet_->Start();
}

void QtNetworkPort::OnSettled() {
  if (state_ != State::Settling) return;
  state_ = State::Connected;
  if (!telnetOut_.empty()) socket_.write(QByteArray::fromStdString(std::exchange(telnetOut_, {})));
  if (!pending_.empty()) Send(std::exchange(pending_, {}));
  if (!received_.empty()) events_.Raise(CommEvent::Receive);
}

void QtNetworkPort::OnReadyRead() {
  if (state_ != State::Settling && state_ != State::Connected) return;
  const QByteArray data = socket_.readAll();
  const std::string_view bytes(data.constData(), static_cast<std::size_t>(data.size()));
  if (telnet_) {
    std::string reply;
    telnet_->Receive(bytes, received_, reply);
    if (state_ != State::Connected)
      telnetOut_ += reply;
    else if (!reply.empty())
      socket_.write(reply.data(), static_cast<qint64>(reply.size()));
    if (telnet_->Broken()) return Fail("The server does not speak Telnet");
  } else {
    received_.append(bytes);
  }
  if (state_ == State::Connected && !received_.empty()) events_.Raise(CommEvent::Receive);
}

void QtNetworkPort::Fail(const std::string& reason) {
  if (state_ == State::Closed) return;
  const State was = state_;
  const std::string heard = received_;
  Close();
  if (was == State::Connected) {
    if (onLost) onLost("The connection to " + Name() + " was lost: " + reason + ".");
    return;
  }
  // What the server said before it hung up tells a line held by someone else.
  if (heard.find("in use") != std::string::npos) {
    if (onOpenFailed) onOpenFailed({kCommErrorPortBusy, heard});
    return;
  }
  if (onOpenFailed) onOpenFailed({kCommErrorCannotOpen, reason});
}

void QtNetworkPort::Close() {
  state_ = State::Closed;
  connectTimer_.stop();
  settleTimer_.stop();
  events_.Reset();
  pending_.clear();
  telnetOut_.clear();
  received_.clear();
  line_.Clear();
  socket_.abort();
}

void QtNetworkPort::Send(const std::string& bytes) {
  const std::string wire = telnet_ ? TelnetClient::Escape(bytes) : bytes;
  socket_.write(wire.data(), static_cast<qint64>(wire.size()));
  line_.Wrote(static_cast<std::int64_t>(bytes.size()), clock_.elapsed());
}

bool QtNetworkPort::Output(const std::string& bytes) {
  if (state_ == State::Closed) return false;
  if (state_ != State::Connected)
    pending_ += bytes;
  else
    Send(bytes);
  events_.Wrote();
  return true;
}

std::string QtNetworkPort::Input() {
  if (state_ != State::Connected) return {};
  return std::exchange(received_, {});
}

qint64 QtNetworkPort::Waiting() const {
  return line_.Waiting(clock_.elapsed(), socket_.bytesToWrite()) +
         static_cast<qint64>(pending_.size());
}

QtServerProbe::QtServerProbe() {
  retry_.setSingleShot(true);
  retry_.setInterval(2000);
  timeout_.setSingleShot(true);
  timeout_.setInterval(5000);
  connect(&retry_, &QTimer::timeout, this, &QtServerProbe::Try);
  connect(&timeout_, &QTimer::timeout, this, &QtServerProbe::Retry);
  connect(&socket_, &QTcpSocket::errorOccurred, this, &QtServerProbe::Retry);
  connect(&socket_, &QTcpSocket::connected, this, [this] {
    const std::string address = address_;
    Stop();
    if (onAnswered) onAnswered(address);
  });
}

void QtServerProbe::Start(const std::string& address) {
  Stop();
  address_ = address;
  retry_.start();
}

void QtServerProbe::Stop() {
  address_.clear();
  retry_.stop();
  timeout_.stop();
  socket_.abort();
}

void QtServerProbe::Try() {
  const auto address = ParseNetworkAddress(address_);
  if (!address) return;
  timeout_.start();
  socket_.connectToHost(QString::fromStdString(address->host), static_cast<quint16>(address->port));
}

void QtServerProbe::Retry() {
  if (address_.empty()) return;
  timeout_.stop();
  socket_.abort();
  retry_.start();
}

}  // namespace velmora
