#include "recorder/recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSegmentPrefix = "segment-";
constexpr const char* kSegmentSuffix = ".jsonl";
// Added bytes are written early past this, so a flood cannot grow memory without bound.
constexpr std::size_t kBufferLimit = 1 << 20;

unsigned SegmentNumber(const fs::path& p) {
  const std::string name = p.filename().string();
  if (name.rfind(kSegmentPrefix, 0) != 0 || !name.ends_with(kSegmentSuffix)) return 0;
  try {
    return static_cast<unsigned>(std::stoul(name.substr(std::strlen(kSegmentPrefix))));
  } catch (...) {
    return 0;
  }
}

std::string SegmentName(unsigned n) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%08u%s", kSegmentPrefix, n, kSegmentSuffix);
  return name;
}

std::string ErrorText(int error) {
  std::string text = std::strerror(error);
  return text.empty() ? "unknown error" : text;
}

}  // namespace

std::string RecordingFolder(const char* explicitDir, const char* xdgStateHome, const char* home) {
  const auto set = [](const char* v) { return v && *v; };
  if (set(explicitDir)) return explicitDir;
  if (set(xdgStateHome)) return (fs::path(xdgStateHome) / "velmora").string();
  return (fs::path(set(home) ? home : "/tmp") / ".local/state/velmora").string();
}

Recorder::Recorder(std::string folder, std::uint64_t limitBytes, const Clock& clock)
    : folder_(std::move(folder)),
      limit_(limitBytes),
      // Sixteen segments to a ring: dropping one gives back a sixteenth of the limit.
      segmentLimit_(std::max<std::uint64_t>(limitBytes / 16, 4096)),
      clock_(clock) {
  std::error_code ec;
  fs::create_directories(folder_, ec);
  for (const std::string& s : Segments()) next_ = std::max(next_, SegmentNumber(s) + 1);
}

Recorder::~Recorder() {
  onStatus = nullptr;  // whoever listened may be gone
  Flush();
  if (file_) std::fclose(file_);
}

std::vector<std::string> Recorder::Segments() const {
  std::vector<std::pair<unsigned, std::string>> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder_, ec))
    if (const unsigned n = SegmentNumber(entry.path())) found.push_back({n, entry.path().string()});
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& f : found) paths.push_back(std::move(f.second));
  return paths;
}

void Recorder::Add(RecordKind kind, std::string_view name, std::string_view data) {
  if (stopped_) return;
  AppendRecordLine(buffer_, kind, clock_.MonotonicUs(), name, data);
  if (buffer_.size() > kBufferLimit) Flush();
}

bool Recorder::StartSegment() {
  if (file_) std::fclose(file_);
  const std::string path = (fs::path(folder_) / SegmentName(next_)).string();
  errno = 0;
  file_ = std::fopen(path.c_str(), "ab");
  if (!file_) {
    Stop(ErrorText(errno));
    return false;
  }
  ++next_;
  const std::string header = HeaderLine({kRecordingVersion, clock_.WallMs(), clock_.MonotonicUs()});
  if (!WriteOut(header)) {
    std::error_code ec;
    fs::remove(path, ec);  // an empty segment is no part of the record
    return false;
  }
  segmentBytes_ = header.size();
  DropOldest();
  return true;
}

// Written and flushed to the segment, or the segment is closed and recording stops, saying why.
bool Recorder::WriteOut(const std::string& bytes) {
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size() &&
      std::fflush(file_) == 0)
    return true;
  const int error = errno;
  std::fclose(file_);
  file_ = nullptr;
  Stop(ErrorText(error));
  return false;
}

void Recorder::DropOldest() {
  std::vector<std::string> segments = Segments();
  std::uint64_t total = 0;
  std::vector<std::uint64_t> sizes;
  for (const std::string& s : segments) {
    std::error_code ec;
    sizes.push_back(fs::file_size(s, ec));
    total += ec ? 0 : sizes.back();
  }
  // The segment being written is never dropped.
  for (std::size_t i = 0; i + 1 < segments.size() && total > limit_; ++i) {
    std::error_code ec;
    if (fs::remove(segments[i], ec)) total -= sizes[i];
  }
}

void Recorder::Stop(const std::string& reason) {
  buffer_.clear();
  if (stopped_) return;
  stopped_ = true;
  if (onStatus) onStatus("Recording stopped: " + folder_ + " cannot be written: " + reason + ".");
}

void Recorder::Flush() {
  if (stopped_) {
    // Room again? A new segment's header is the test.
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (!StartSegment()) return;
    stopped_ = false;
    if (onStatus) onStatus("Recording resumed.");
    return;
  }
  if (buffer_.empty()) return;
  if ((!file_ || segmentBytes_ >= segmentLimit_) && !StartSegment()) return;
  if (!WriteOut(buffer_)) return;
  segmentBytes_ += buffer_.size();
  buffer_.clear();
  if (segmentBytes_ >= segmentLimit_) DropOldest();
}

Recording Recorder::Read() {
  Flush();
  Recording all;
  for (const std::string& path : Segments()) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ParseRecording(text.str(), path, true, all);
  }
  return all;
}

}  // namespace velmora
