// The recording's format: JSON Lines, one object per line. The first line of every file is a
// header; each further line is one chunk of bytes (base64, so any byte value survives) or one
// event of the console. A line is written whole or, after a crash, is the torn last line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

constexpr int kRecordingVersion = 1;

// In: from the card. Out: to the card. Event: something the console did or saw.
enum class RecordKind { In, Out, Event };

struct Record {
  RecordKind kind = RecordKind::In;
  std::int64_t us = 0;  // monotonic microseconds
  std::string name;     // an event's name ("port-opened"); empty for bytes
  std::string data;     // the bytes, or the event's text (one character per byte)
};

struct RecordingHeader {
  int version = kRecordingVersion;
  std::int64_t wallMs = 0;  // wall clock at startUs
  std::int64_t startUs = 0;
};

std::string HeaderLine(const RecordingHeader& h);  // each ends in "\n"
std::string RecordLine(const Record& r);
void AppendRecordLine(std::string& out, RecordKind kind, std::int64_t us, std::string_view name,
                      std::string_view data);

std::string Base64(std::string_view bytes);
void AppendBase64(std::string& out, std::string_view bytes);
std::optional<std::string> FromBase64(std::string_view text);

struct ReadFault {
  std::string file;
  std::size_t line = 0;  // 1-based
  std::string reason;
  // Where reading stopped, as a box says it: "<file>, line <n>: <reason>".
  std::string Text() const;
};

struct Recording {
  std::optional<RecordingHeader> header;  // the first file's
  std::vector<Record> records;
  std::optional<ReadFault> fault;
  // What was added to the monotonic times of the last file read to put them on the first
  // file's timeline (nonzero after a reboot, whose clock started again).
  std::int64_t offsetUs = 0;
};

// Adds one file's records to into, stopping at the first line that is not sound. A torn last
// line (no line end) is the end of the file when tornTailIsEnd, otherwise a fault. Reading
// after a fault adds nothing.
void ParseRecording(std::string_view text, const std::string& file, bool tornTailIsEnd,
                    Recording& into);

}  // namespace velmora
