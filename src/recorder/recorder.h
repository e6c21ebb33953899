// The flight recorder: every byte to and from the card and the console's own events, with their
// times, in a bounded ring of segment files. Adding only appends to memory; Flush (a timer
// calls it at least once a second) writes. The oldest whole segments go first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "recorder/record_format.h"

namespace velmora {

constexpr std::uint64_t kDefaultRecordingLimit = 256ull << 20;

// VELMORA_RECORDING_DIR when set (tests), else $XDG_STATE_HOME/velmora, else
// ~/.local/state/velmora; null or empty arguments are unset variables.
std::string RecordingFolder(const char* explicitDir, const char* xdgStateHome, const char* home);

class Recorder {
 public:
  // folder is created when missing; segments already in it are kept and count to the limit.
  Recorder(std::string folder, std::uint64_t limitBytes, const Clock& clock);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void Add(RecordKind kind, std::string_view name, std::string_view data);
  // Writes what was added. A write that fails stops recording (what was added is dropped until
  // a later flush finds room again); onStatus hears of the stop and of the resumption.
  void Flush();

  std::function<void(const std::string& text)> onStatus;

  const std::string& folder() const { return folder_; }
  bool Stopped() const { return stopped_; }
  // Segment files, oldest first.
  std::vector<std::string> Segments() const;
  // Everything the ring holds, after a flush; torn ends of segments are their ends.
  Recording Read();
  std::int64_t NowUs() const { return clock_.MonotonicUs(); }

 private:
  bool StartSegment();
  bool WriteOut(const std::string& bytes);
  void Stop(const std::string& reason);
  void DropOldest();

  std::string folder_;
  std::uint64_t limit_;
  std::uint64_t segmentLimit_;
  const Clock& clock_;
  std::string buffer_;
  std::FILE* file_ = nullptr;
  std::uint64_t segmentBytes_ = 0;
  unsigned next_ = 1;
  bool stopped_ = false;
};

}  // namespace velmora
