// The serial port the console talks to the card through (the control MSComm1).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

enum class CommEvent : int { None = 0, Send = 1, Receive = 2 };

// Error numbers an opening reports.
constexpr int kCommErrorNoSuchPort = 8002;
constexpr int kCommErrorPortBusy = 8005;  // held by another program
constexpr int kCommErrorCannotOpen = 8010;

struct OpenFailure {
  int number = 0;  // 0 when the port opened
  std::string description;
  explicit operator bool() const { return number != 0; }
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual void SetCommPort(int port) = 0;
  virtual int CommPort() const = 0;
  // Opens at 57600 8N1; the result says why it failed, if it did.
  virtual OpenFailure Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Appends to the transmit queue and returns at once; false when nothing could be queued.
  virtual bool Output(const std::string& bytes) = 0;
  // Everything received so far, one character per byte; empties the receive buffer.
  virtual std::string Input() = 0;
  // The kind of the event being handled.
  virtual CommEvent Event() const = 0;
  // 0: no send events; n: one send event whenever fewer than n characters wait.
  virtual void SetSThreshold(int n) = 0;
  virtual int SThreshold() const = 0;

  // The device behind a port number, for the list's tool tips; empty when there is none.
  virtual std::string DeviceName(int port) const = 0;
  // When what Input() gave last arrived, as wall-clock milliseconds, for a port that plays back
  // a recording; -1 for a live port, whose bytes arrived just now.
  virtual std::int64_t ArrivedWallMs() const { return -1; }

  // Runs on the window's thread for every receive and send event.
  std::function<void()> onComm;
  // The open port failed (adapter pulled, other end gone). The port is already closed
  // when this runs, and it runs from a fresh call stack.
  std::function<void(const std::string& description)> onLost;
  // A port that opens in the background (a network port: Open() succeeds at once and the
  // connection follows) failed to open after all. The port is closed when this runs, and it
  // runs from a fresh call stack. Ports that open at once never call it.
  std::function<void(const OpenFailure& failure)> onOpenFailed;
};

}  // namespace velmora
