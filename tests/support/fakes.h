// Fakes of every platform interface. Nothing here runs by itself: a test feeds bytes, fires
// timers, answers choosers and drains deferred work, and sees what a person would see.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/console.h"
#include "platform/clock.h"
#include "platform/device_watch.h"
#include "platform/dialogs.h"
#include "platform/event_pump.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "platform/timer.h"

namespace velmora::testing {

class FakeSerialPort : public SerialPort {
 public:
  enum class Availability { Missing, Free, Busy };

  void SetPort(int port, Availability a, std::string device = {});

  void SetCommPort(int port) override { port_ = port; }
  int CommPort() const override { return port_; }
  OpenFailure Open() override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  bool Output(const std::string& bytes) override;
  std::string Input() override;
  CommEvent Event() const override { return event_; }
  void SetSThreshold(int n) override { threshold_ = n; }
  int SThreshold() const override { return threshold_; }
  std::string DeviceName(int port) const override;

  // The card sends bytes: one receive event (only while the port is open).
  void Feed(const std::string& bytes);
  // The transmit queue drained below the threshold: one send event.
  void RaiseSend();
  // The adapter is pulled: the port closes and the console hears of it.
  void Lose(const std::string& description = "Input/output error");

  // Each successful Output is one entry; nothing is recorded for a closed port, only counted.
  std::vector<std::string> writes;
  int opens = 0;
  int closes = 0;
  int closedWrites = 0;
  // Runs inside Output, after the write was recorded (to raise events in the middle).
  std::function<void(const std::string&)> onOutput;

 private:
  struct PortInfo {
    Availability availability = Availability::Missing;
    std::string device;
  };
  std::map<int, PortInfo> ports_;
  int port_ = 1;
  bool open_ = false;
  int threshold_ = 0;
  CommEvent event_ = CommEvent::None;
  std::string input_;
  void Raise(CommEvent e);
};

class FakeClock;

class FakeTimer : public Timer {
 public:
  explicit FakeTimer(FakeClock* clock = nullptr);
  void SetInterval(int ms) override;
  int Interval() const override { return interval_; }
  void SetEnabled(bool on) override;
  bool Enabled() const override { return enabled_; }
  std::int64_t due = 0;

 private:
  FakeClock* clock_;
  int interval_ = 0;
  bool enabled_ = false;
};

// Virtual time for the timers registered with it.
class FakeClock {
 public:
  std::int64_t now = 0;
  void Register(FakeTimer* t) { timers_.push_back(t); }
  // Fires every expiry due within ms, in time order.
  void Advance(std::int64_t ms);

 private:
  std::vector<FakeTimer*> timers_;
};

class FakeFiles : public Files {
 public:
  struct File {
    std::string bytes;
    bool readOnly = false;
    bool locked = false;  // held by another program: cannot be opened
    bool full = false;    // every write fails, as on a full disk
  };
  std::map<std::string, File> disk;

  std::int16_t FreeFile() override;
  FileError OpenForRead(std::int16_t number, const std::string& path) override;
  FileError OpenForAppend(std::int16_t number, const std::string& path) override;
  FileError OpenForWrite(std::int16_t number, const std::string& path) override;
  FileError WriteWhole(const std::string& path, std::string_view bytes) override {
    if (disk[path].full) return std::string("No space left on device");
    disk[path].bytes = bytes;
    return {};
  }
  std::int64_t Length(std::int16_t number) override;
  std::string Read(std::int16_t number, std::size_t count) override;
  FileError Write(std::int16_t number, std::string_view bytes) override;
  void Close(std::int16_t number) override;
  void CloseAll() override;
  int OpenCount() const override { return static_cast<int>(open_.size()); }

 private:
  struct Handle {
    std::string path;
    std::size_t position = 0;
    bool write = false;
  };
  std::map<std::int16_t, Handle> open_;
};

class FakeFileChooser : public FileChooser {
 public:
  std::optional<ChosenFile> ShowOpen(const OpenFileRequest& request) override;
  // Answers in order; with none left the person cancels.
  std::deque<std::optional<ChosenFile>> answers;
  std::vector<OpenFileRequest> requests;
  // Runs while the chooser is "open" (events go on behind it, as behind a modal box).
  std::function<void()> whileShown;
};

class FakeMessageBox : public MessageBox {
 public:
  void Warning(const std::string& text) override;
  std::vector<std::string> shown;
  // Runs while the box is "open" (events go on behind a modal box).
  std::function<void(const std::string&)> whileShown;
};

class FakeEventPump : public EventPump {
 public:
  void ProcessEvents() override;
  void ScheduleDeferred() override {}
  // What happens while pending events run: a click, a receive event, ...
  std::function<void()> pendingEvents;
};

// The trends' clocks, set by the test.
class ManualClock : public Clock {
 public:
  std::int64_t mono = 1'000;
  std::int64_t wall = 1'796'601'600'000;  // 2026-12-07T00:00:00.000Z
  std::int64_t MonotonicMs() const override { return mono; }
  std::int64_t WallMs() const override { return wall; }
  void Advance(std::int64_t ms) {
    mono += ms;
    wall += ms;
  }
};

// Devices the test plugs and pulls.
class FakeDeviceWatch : public DeviceWatch {
 public:
  void Watch(const std::vector<std::string>&) override {}
  void Plug(const std::string& path, const std::string& id = {}) { onAppeared({path, id}); }
  void Pull(const std::string& path, const std::string& id) { onDisappeared({path, id}); }
};

// A valid Intel HEX program of exactly `length` characters (39 or more; shorter gives the end
// record alone): data records of up to 16 bytes with right checksums, then the end record.
std::string IntelHex(std::size_t length);

// A whole platform of fakes, and the console on it.
struct FakePlatform {
  FakeSerialPort port;
  FakeClock clock;
  FakeTimer transmitTimer{&clock};
  FakeTimer downloadTimer{&clock};
  FakeFiles files;
  FakeFileChooser chooser;
  FakeMessageBox messages;
  FakeEventPump pump;

  Platform platform() {
    return {port, transmitTimer, downloadTimer, files, chooser, messages, pump};
  }
};

}  // namespace velmora::testing
