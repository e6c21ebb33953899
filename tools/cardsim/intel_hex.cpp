#include "cardsim/intel_hex.h"

#include <string>

#include "intel_hex/intel_hex.h"

namespace velmora::cardsim {

using intel_hex::Fault;

std::size_t IntelHexChecker::Feed(std::string_view bytes) {
  std::size_t taken = 0;
  while (taken < bytes.size() && !end_seen_) {
    const char c = bytes[taken++];
    if (c == '\r' || c == '\n') {
      EndLine();
      continue;
    }
    if (line_.size() < kMaxRecordChars) {
      line_.push_back(c);
    } else {
      line_too_long_ = true;
    }
    // The end record closes the transfer by itself: a file whose last line has no line end
    // must not leave the boot loader waiting.
    if (LineIsCompleteEndRecord()) EndLine();
  }
  return taken;
}

void IntelHexChecker::Finish() {
  if (!end_seen_) EndLine();
}

bool IntelHexChecker::LineIsCompleteEndRecord() const {
  if (line_.size() != 11) return false;
  const intel_hex::Record record = intel_hex::ReadRecord(line_);
  // A bad checksum still ends the line here; the record is judged as it stands.
  return (record.fault == Fault::kNone || record.fault == Fault::kChecksum) && record.count == 0 &&
         record.type == 1;
}

void IntelHexChecker::EndLine() {
  if (line_.empty() && !line_too_long_) return;  // blank line between records
  ++records_;
  CheckRecord();
  line_.clear();
  line_too_long_ = false;
}

void IntelHexChecker::CheckRecord() {
  const std::string number = std::to_string(records_);
  const intel_hex::Record record = intel_hex::ReadRecord(line_);
  if (record.fault == Fault::kNoColon) return Fail("record " + number + " does not start with ':'");
  if (line_too_long_) return Fail("record " + number + " is too long");
  switch (record.fault) {
    case Fault::kNone:
      break;
    case Fault::kBadCharacter:
      return Fail("bad hex digit in record " + number);
    case Fault::kTooShort:
      return Fail("record " + number + " is too short");
    case Fault::kOddDigits:
      return Fail("odd number of digits in record " + number);
    case Fault::kCountMismatch:
      return Fail("record " + number + " length does not match its byte count");
    case Fault::kUnknownType: {
      static const char* const kDigits = "0123456789ABCDEF";
      return Fail("unknown record type " +
                  std::string{kDigits[record.type / 16], kDigits[record.type % 16]} +
                  " in record " + number);
    }
    case Fault::kTypeLength:
      return Fail("record " + number + " length does not match its type");
    default:
      return Fail("bad checksum in record " + number);
  }
  if (record.type == 0) data_bytes_ += record.count;
  if (record.type == 1) end_seen_ = true;
}

void IntelHexChecker::Fail(const std::string& what) {
  if (first_error_.empty()) first_error_ = what;
}

std::string IntelHexChecker::Verdict() const {
  auto count = [](std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  if (!first_error_.empty()) return "Program error: " + first_error_;
  if (!end_seen_) return "Program error: no end record after " + count(records_, "record");
  return "Program received: " + count(records_, "record") + ", " + count(data_bytes_, "data byte") +
         ", checksums OK";
}

}  // namespace velmora::cardsim
