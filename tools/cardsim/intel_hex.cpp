#include "cardsim/intel_hex.h"

#include <string>

namespace velmora::cardsim {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The byte at pair index `pair` behind the colon, or -1 when either digit is not hexadecimal.
int PairValue(std::string_view record, std::size_t pair) {
  const std::size_t at = 1 + 2 * pair;
  if (at + 1 >= record.size()) return -1;
  const int high = HexValue(record[at]);
  const int low = HexValue(record[at + 1]);
  if (high < 0 || low < 0) return -1;
  return high * 16 + low;
}

}  // namespace

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
  return line_.size() == 11 && line_[0] == ':' && PairValue(line_, 0) == 0 &&
         PairValue(line_, 3) == 1;
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
  if (line_[0] != ':') return Fail("record " + number + " does not start with ':'");
  if (line_too_long_) return Fail("record " + number + " is too long");
  if (line_.size() < 11) return Fail("record " + number + " is too short");
  if ((line_.size() - 1) % 2 != 0) return Fail("odd number of digits in record " + number);

  const std::size_t pairs = (line_.size() - 1) / 2;
  unsigned sum = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    const int value = PairValue(line_, i);
    if (value < 0) return Fail("bad hex digit in record " + number);
    sum += static_cast<unsigned>(value);
  }
  const auto count = static_cast<std::size_t>(PairValue(line_, 0));
  if (pairs != count + 5) return Fail("record " + number + " length does not match its byte count");

  const int type = PairValue(line_, 3);
  // Types 02 and 04 carry a 16-bit segment or upper address, 03 and 05 a 32-bit start address.
  const bool size_fits = (type == 0) || (type == 1 && count == 0) ||
                         ((type == 2 || type == 4) && count == 2) ||
                         ((type == 3 || type == 5) && count == 4);
  if (type > 5) {
    static const char* const kDigits = "0123456789ABCDEF";
    return Fail("unknown record type " + std::string{kDigits[type / 16], kDigits[type % 16]} +
                " in record " + number);
  }
  if (!size_fits) return Fail("record " + number + " length does not match its type");
  if (sum % 256 != 0) return Fail("bad checksum in record " + number);

  if (type == 0) data_bytes_ += count;
  if (type == 1) end_seen_ = true;
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
