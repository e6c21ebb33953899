#include "recorder/saving.h"

#include <algorithm>
#include <cstdio>

#include "app/console.h"
#include "recorder/recorder.h"

namespace velmora {
namespace {

// JSON's string for a Latin-1 text, through the recording's own escaping.
std::string JsonText(const std::string& text) {
  const std::string line = RecordLine({RecordKind::Event, 0, "", text});
  const std::size_t from = line.find("\"text\":") + 7;
  return line.substr(from, line.size() - from - 2);  // without "}\n"
}

std::int64_t FirstUs(const Recording& r, std::int64_t fromUs) {
  for (const Record& x : r.records)
    if (x.us >= fromUs) return x.us;
  return r.header ? r.header->startUs : 0;
}

// The wall clock's milliseconds at a monotonic time, by the header.
std::int64_t WallMsAt(const Recording& r, std::int64_t us) {
  return r.header ? r.header->wallMs + (us - r.header->startUs) / 1000 : 0;
}

constexpr std::int64_t kMinuteUs = 60'000'000;
// The file types of the chooser, in its order: three windows, twice.
constexpr std::int64_t kWindows[] = {5 * kMinuteUs, 30 * kMinuteUs, 0};

}  // namespace

std::string RecordingText(const Recording& r, std::int64_t fromUs) {
  const std::int64_t first = FirstUs(r, fromUs);
  std::string out = HeaderLine({kRecordingVersion, WallMsAt(r, first), first});
  for (const Record& x : r.records)
    if (x.us >= fromUs) AppendRecordLine(out, x.kind, x.us, x.name, x.data);
  return out;
}

std::string AsciicastText(const Recording& r, std::int64_t fromUs) {
  const std::int64_t first = FirstUs(r, fromUs);
  std::string out = "{\"version\": 2, \"width\": 100, \"height\": 30, \"timestamp\": " +
                    std::to_string(WallMsAt(r, first) / 1000) +
                    ", \"title\": \"Velmora recording\"}\n";
  for (const Record& x : r.records) {
    if (x.us < fromUs || x.kind == RecordKind::Event) continue;
    char time[32];
    std::snprintf(time, sizeof time, "%.6f", static_cast<double>(x.us - first) / 1e6);
    out += std::string("[") + time + (x.kind == RecordKind::In ? ", \"o\", " : ", \"i\", ") +
           JsonText(x.data) + "]\n";
  }
  return out;
}

void SaveRecording_Click(Console& c) {
  if (!c.recorder) return;
  OpenFileRequest request;
  request.title = "Save Recording";
  request.filters = {{"Recording, last 5 minutes (*.jsonl)", "*.jsonl"},
                     {"Recording, last 30 minutes (*.jsonl)", "*.jsonl"},
                     {"Recording, all (*.jsonl)", "*.jsonl"},
                     {"asciicast, last 5 minutes (*.cast)", "*.cast"},
                     {"asciicast, last 30 minutes (*.cast)", "*.cast"},
                     {"asciicast, all (*.cast)", "*.cast"}};
  request.mustExist = false;
  request.refuseReadOnly = true;
  request.saving = true;
  request.acceptText = "Save";
  const std::optional<ChosenFile> chosen = c.Dialog.ShowOpen(request);
  if (!chosen) return;
  const int type = std::clamp(chosen->filterIndex, 0, 5);
  const std::int64_t window = kWindows[type % 3];
  const Recording r = c.recorder->Read();
  const std::int64_t from = window ? c.recorder->NowUs() + r.offsetUs - window : INT64_MIN;
  const std::string text = type < 3 ? RecordingText(r, from) : AsciicastText(r, from);
  // Written whole or not at all: the ring is only read, so a failure loses nothing from it.
  if (const FileError error = c.files.Replace(chosen->fileName, text))
    c.messages.Warning("Cannot write " + chosen->fileName + ": " + *error);
}

}  // namespace velmora
