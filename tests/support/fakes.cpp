#include "support/fakes.h"

#include <algorithm>
#include <utility>

namespace velmora::testing {

void FakeSerialPort::SetPort(int port, Availability a, std::string device) {
  if (device.empty()) device = "/dev/fake" + std::to_string(port);
  ports_[port] = {a, std::move(device)};
}

OpenFailure FakeSerialPort::Open() {
  if (open_) return {kCommErrorPortBusy, "Port already open"};
  const auto it = ports_.find(port_);
  if (it == ports_.end() || it->second.availability == Availability::Missing)
    return {kCommErrorNoSuchPort, "No such file or directory"};
  if (it->second.availability == Availability::Busy)
    return {kCommErrorPortBusy, "Permission error while locking the device"};
  open_ = true;
  ++opens;
  input_.clear();
  return {};
}

void FakeSerialPort::Close() {
  if (!open_) return;
  open_ = false;
  ++closes;
  threshold_ = 0;
}

bool FakeSerialPort::Output(const std::string& bytes) {
  if (!open_) return ++closedWrites, false;
  writes.push_back(bytes);
  if (onOutput) onOutput(bytes);
  return true;
}

std::string FakeSerialPort::Input() {
  return std::exchange(input_, {});
}

std::string FakeSerialPort::DeviceName(int port) const {
  const auto it = ports_.find(port);
  return it == ports_.end() ? std::string{} : it->second.device;
}

void FakeSerialPort::Raise(CommEvent e) {
  event_ = e;
  if (onComm) onComm();
  event_ = CommEvent::None;
}

void FakeSerialPort::Feed(const std::string& bytes) {
  if (!open_) return;
  input_ += bytes;
  Raise(CommEvent::Receive);
}

void FakeSerialPort::RaiseSend() {
  if (open_) Raise(CommEvent::Send);
}

void FakeSerialPort::Lose(const std::string& description) {
  if (!open_) return;
  Close();
  if (onLost) onLost(description);
}

FakeTimer::FakeTimer(FakeClock* clock) : clock_(clock) {
  if (clock_) clock_->Register(this);
}

void FakeTimer::SetInterval(int ms) {
  interval_ = ms;
  if (clock_) due = clock_->now + interval_;
}

void FakeTimer::SetEnabled(bool on) {
  if (on && clock_ && !enabled_) due = clock_->now + interval_;
  enabled_ = on;
}

void FakeClock::Advance(std::int64_t ms) {
  const std::int64_t end = now + ms;
  for (;;) {
    FakeTimer* next = nullptr;
    for (FakeTimer* t : timers_)
      if (t->Enabled() && t->Interval() > 0 && t->due <= end && (!next || t->due < next->due))
        next = t;
    if (!next) break;
    now = next->due;
    next->due += next->Interval();
    if (next->onTimer) next->onTimer();
  }
  now = end;
}

std::int16_t FakeFiles::FreeFile() {
  std::int16_t n = 1;
  while (open_.count(n)) ++n;
  return n;
}

FileError FakeFiles::OpenForRead(std::int16_t number, const std::string& path) {
  if (open_.count(number)) return "File already open";
  const auto it = disk.find(path);
  if (it == disk.end()) return "No such file or directory";
  if (it->second.locked) return "The process cannot access the file because it is being used";
  open_[number] = {path, 0, false};
  return {};
}

FileError FakeFiles::OpenForAppend(std::int16_t number, const std::string& path) {
  if (open_.count(number)) return "File already open";
  auto it = disk.find(path);
  if (it != disk.end() && it->second.locked)
    return "The process cannot access the file because it is being used";
  if (it != disk.end() && it->second.readOnly) return "Permission denied";
  if (it == disk.end()) it = disk.emplace(path, File{}).first;
  open_[number] = {path, it->second.bytes.size(), true};
  return {};
}

FileError FakeFiles::Replace(const std::string& path, std::string_view bytes) {
  disk[path].bytes = bytes;
  return {};
}

std::int64_t FakeFiles::Length(std::int16_t number) {
  const auto it = open_.find(number);
  return it == open_.end() ? 0 : static_cast<std::int64_t>(disk[it->second.path].bytes.size());
}

std::string FakeFiles::Read(std::int16_t number, std::size_t count) {
  const auto it = open_.find(number);
  if (it == open_.end()) return {};
  const std::string& bytes = disk[it->second.path].bytes;
  const std::size_t from = std::min(it->second.position, bytes.size());
  std::string part = bytes.substr(from, count);
  it->second.position = from + part.size();
  return part;
}

FileError FakeFiles::Write(std::int16_t number, std::string_view bytes) {
  const auto it = open_.find(number);
  if (it == open_.end() || !it->second.write) return "Bad file number";
  File& f = disk[it->second.path];
  if (f.full) return "No space left on device";
  f.bytes.append(bytes);
  return {};
}

void FakeFiles::Close(std::int16_t number) {
  open_.erase(number);
}
void FakeFiles::CloseAll() {
  open_.clear();
}

std::optional<ChosenFile> FakeFileChooser::ShowOpen(const OpenFileRequest& request) {
  requests.push_back(request);
  if (whileShown) whileShown();
  if (answers.empty()) return std::nullopt;
  auto answer = answers.front();
  answers.pop_front();
  return answer;
}

void FakeMessageBox::Warning(const std::string& text) {
  shown.push_back(text);
  if (whileShown) whileShown(text);
}

void FakeEventPump::ProcessEvents() {
  if (pendingEvents) {
    // Events run once; the test sets new ones if it wants more.
    auto events = std::exchange(pendingEvents, nullptr);
    events();
  }
}

std::string IntelHex(std::size_t length) {
  std::string hex;
  unsigned address = 0;
  const auto record = [&](unsigned n) {
    const unsigned char head[] = {static_cast<unsigned char>(n),
                                  static_cast<unsigned char>(address >> 8),
                                  static_cast<unsigned char>(address), 0};
    std::string bytes(reinterpret_cast<const char*>(head), 4);
    for (unsigned i = 0; i < n; ++i) bytes += static_cast<char>((address + i) * 7 % 256);
    unsigned sum = 0;
    hex += ':';
    for (unsigned char b : bytes) {
      sum += b;
      hex += "0123456789ABCDEF"[b >> 4];
      hex += "0123456789ABCDEF"[b & 15];
    }
    hex += "0123456789ABCDEF"[(-sum >> 4) & 15];
    hex += "0123456789ABCDEF"[-sum & 15];
    hex += "\r\n";
    address += n;
  };
  // Each record takes 13 + 2n characters; the last one or two make the length exact.
  for (long rest = static_cast<long>(length) - 13; rest >= 13;
       rest = long(length - hex.size()) - 13) {
    if (rest % 2 == 1 && rest <= 523) {
      record(static_cast<unsigned>(rest - 13) / 2);
    } else if (rest >= 26) {
      record(static_cast<unsigned>(std::min<long>(16, (rest - 26) / 2)));
    } else {
      break;
    }
  }
  return hex + ":00000001FF\r\n";
}

}  // namespace velmora::testing
