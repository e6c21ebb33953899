#include "recorder/replay_port.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "app/console.h"
#include "serial/receive_path.h"

namespace velmora {
namespace {

constexpr std::string_view kScheme = "replay://";

std::vector<std::string> Commands(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t end; (end = bytes.find("\r\n", from)) != std::string::npos; from = end + 2)
    if (end > from) lines.push_back(bytes.substr(from, end - from));
  if (from < bytes.size()) lines.push_back(bytes.substr(from));
  return lines;
}

}  // namespace

std::optional<ReplayAddress> ParseReplayAddress(std::string_view device) {
  if (!device.starts_with(kScheme)) return {};
  std::string_view rest = device.substr(kScheme.size());
  ReplayAddress address;
  if (const auto q = rest.find('?'); q != std::string_view::npos) {
    const std::string_view query = rest.substr(q + 1);
    rest = rest.substr(0, q);
    if (!query.starts_with("speed=")) return {};
    const std::string_view value = query.substr(6);
    if (value == "max") {
      address.speed = 0;
    } else {
      const auto [end, ec] =
          std::from_chars(value.data(), value.data() + value.size(), address.speed);
      if (ec != std::errc{} || end != value.data() + value.size() || !(address.speed > 0))
        return {};
    }
  }
  if (rest.empty()) return {};
  address.path = std::string(rest);
  return address;
}

CommandComparison CompareCommands(const std::string& recorded, const std::string& sent) {
  const std::vector<std::string> then = Commands(recorded), now = Commands(sent);
  CommandComparison result;
  result.sent = now.size();
  std::size_t at = 0;
  for (std::size_t i = 0; i < now.size(); ++i) {
    std::size_t found = at;
    while (found < then.size() && then[found] != now[i]) ++found;
    if (found < then.size()) {
      ++result.matched;
      at = found + 1;
    } else if (result.firstDifference.empty()) {
      result.firstDifference =
          "command " + std::to_string(i + 1) + " \"" + now[i] + "\", " +
          (at < then.size() ? "where the recording has \"" + then[at] + "\" next"
                            : "after the recording's last command");
    }
  }
  return result;
}

ReplayPort::ReplayPort(Timer& timer) : timer_(timer) {
  timer_.SetEnabled(false);
  timer_.onTimer = [this] { Tick(); };
}

OpenFailure ReplayPort::Open() {
  if (open_) return {};
  const auto address = ParseReplayAddress(DeviceName(port_));
  if (!address) return {kCommErrorNoSuchPort, "not a replay address: " + DeviceName(port_)};
  std::ifstream in(address->path, std::ios::binary);
  if (!in) return {kCommErrorCannotOpen, address->path + ": cannot be read"};
  std::ostringstream text;
  text << in.rdbuf();
  recording_ = {};
  ParseRecording(text.str(), address->path, false, recording_);
  file_ = address->path;
  speed_ = address->speed;
  next_ = 0;
  ended_ = false;
  recordedDownloading_ = false;
  playedUs_ = recording_.records.empty() ? 0 : recording_.records.front().us;
  input_.clear();
  sent_.clear();
  recordedSent_.clear();
  open_ = true;
  Arm();
  return {};
}

void ReplayPort::Close() {
  open_ = false;
  timer_.SetEnabled(false);
}

bool ReplayPort::Output(const std::string& bytes) {
  if (!open_) return false;
  // While the recorded console was downloading it sent the program file, not commands: what
  // this console sends meanwhile has nothing to be compared with.
  if (!recordedDownloading_) sent_ += bytes;
  return true;
}

std::string ReplayPort::Input() {
  const auto& h = recording_.header;
  if (!input_.empty()) arrivedWallMs_ = h ? h->wallMs + (inputUs_ - h->startUs) / 1000 : -1;
  return std::exchange(input_, {});
}

void ReplayPort::Arm() {
  timer_.SetEnabled(false);
  if (!open_ || ended_) return;
  // After the last record, one more tick reports the end from a fresh call stack.
  const std::int64_t gapUs =
      next_ < recording_.records.size() ? recording_.records[next_].us - playedUs_ : 0;
  // The timer's least interval is 1 ms; at "max" every record waits only for the event loop.
  const double ms = speed_ > 0 ? static_cast<double>(gapUs) / 1000.0 / speed_ : 0;
  const int interval = static_cast<int>(std::max(1.0, std::floor(ms)));
  timer_.SetInterval(interval);
  timer_.SetEnabled(true);
}

void ReplayPort::Tick() {
  timer_.SetEnabled(false);
  const auto& records = recording_.records;
  const bool atEnd = next_ >= records.size();
  if (!atEnd) {
    // The recorded time this tick stands for: what is due in it plays now, as one arrival.
    const double stepUs = speed_ > 0 ? timer_.Interval() * 1000.0 * speed_ : 0;
    playedUs_ = std::max(playedUs_ + static_cast<std::int64_t>(stepUs), records[next_].us);
    for (; next_ < records.size() && records[next_].us <= playedUs_; ++next_) {
      if (records[next_].kind == RecordKind::In) {
        if (input_.empty()) inputUs_ = records[next_].us;
        input_ += records[next_].data;
      }
      const Record& r = records[next_];
      if (r.kind == RecordKind::Out && !recordedDownloading_) recordedSent_ += r.data;
      if (r.kind == RecordKind::Event && r.name == "download-started") recordedDownloading_ = true;
      if (r.kind == RecordKind::Event && r.name == "download-ended") recordedDownloading_ = false;
      if (speed_ == 0 && !input_.empty()) {
        ++next_;
        break;
      }
    }
  }
  if (!input_.empty()) {
    event_ = CommEvent::Receive;
    if (onComm) onComm();
    event_ = CommEvent::None;
  }
  if (!open_) return;
  if (!atEnd) return Arm();
  ended_ = true;
  if (onEnded) onEnded(file_, CompareCommands(recordedSent_, sent_), recording_.fault);
}

void ReplayEnded(Console& c, const std::string& file, const CommandComparison& commands,
                 const std::optional<ReadFault>& fault) {
  std::string line = "Replay of " + file + " ended: " + std::to_string(commands.matched) + " of " +
                     std::to_string(commands.sent) + " commands matched";
  line += commands.firstDifference.empty()
              ? ", all commands matched."
              : "; the first difference: " + commands.firstDifference + ".";
  AppendTerminal(c, "\r\n" + line + "\r\n");
  if (fault)
    c.Defer([&c, text = "The recording " + file +
                        " was played up to where it stopped being sound (" + fault->Text() +
                        ")."] { c.messages.Warning(text); });
}

}  // namespace velmora
