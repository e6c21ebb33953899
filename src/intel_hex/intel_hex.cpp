#include "intel_hex/intel_hex.h"

#include <array>
#include <iterator>
#include <map>

namespace velmora::intel_hex {
namespace {

// -1 for a character that is not a hexadecimal digit; a table, as a file has millions of them.
constexpr std::array<signed char, 256> kDigitValues = [] {
  std::array<signed char, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<signed char>(i);
  for (int i = 0; i < 6; ++i) {
    values['A' + i] = static_cast<signed char>(10 + i);
    values['a' + i] = static_cast<signed char>(10 + i);
  }
  return values;
}();

int DigitValue(char c) {
  return kDigitValues[static_cast<unsigned char>(c)];
}

// The byte written as the pair of digits at pair index `pair` behind the colon.
unsigned Pair(std::string_view line, std::size_t pair) {
  const std::size_t at = 1 + 2 * pair;
  return static_cast<unsigned>(DigitValue(line[at]) * 16 + DigitValue(line[at + 1]));
}

std::string Hex(std::uint64_t value, int width) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0 || static_cast<int>(text.size()) < width);
  return text;
}

// Addresses given data so far: each record's span, by its first address, with its line.
class DataSpans {
 public:
  // False, with the first address given twice and the earlier line, if the span meets another.
  bool Add(std::uint64_t start, std::uint64_t end, std::size_t line, FileCheck& fault) {
    const auto next = spans_.lower_bound(start);
    if (next != spans_.begin()) {
      const auto previous = std::prev(next);
      if (previous->second.end > start) return Overlap(start, previous->second.line, fault);
    }
    if (next != spans_.end() && next->first < end)
      return Overlap(next->first, next->second.line, fault);
    spans_.emplace_hint(next, start, Span{end, line});
    return true;
  }

 private:
  struct Span {
    std::uint64_t end;
    std::size_t line;
  };
  static bool Overlap(std::uint64_t address, std::size_t other_line, FileCheck& fault) {
    fault.fault = Fault::kOverlap;
    fault.address = address;
    fault.other_line = other_line;
    return false;
  }
  std::map<std::uint64_t, Span> spans_;
};

}  // namespace

Record ReadRecord(std::string_view line) {
  Record r;
  if (line.empty() || line[0] != ':') {
    r.fault = Fault::kNoColon;
    return r;
  }
  r.digits = line.size() - 1;
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (DigitValue(line[i]) < 0) {
      r.fault = Fault::kBadCharacter;
      r.column = i + 1;
      r.character = line[i];
      return r;
    }
  }
  if (r.digits < 10) {
    r.fault = Fault::kTooShort;
    return r;
  }
  if (r.digits % 2 != 0) {
    r.fault = Fault::kOddDigits;
    return r;
  }
  const std::size_t pairs = r.digits / 2;
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < pairs; ++i) sum += Pair(line, i);
  r.count = Pair(line, 0);
  r.address = Pair(line, 1) * 256 + Pair(line, 2);
  r.type = Pair(line, 3);
  r.checksum = Pair(line, pairs - 1);
  r.expected = (256 - sum % 256) % 256;
  if (pairs != r.count + 5) {
    r.fault = Fault::kCountMismatch;
  } else if (r.type > 5) {
    r.fault = Fault::kUnknownType;
  } else if (r.type != 0 && r.count != FixedLength(r.type)) {
    r.fault = Fault::kTypeLength;
  } else if (r.checksum != r.expected) {
    r.fault = Fault::kChecksum;
  }
  if (r.type != 0 && r.fault != Fault::kCountMismatch) {
    for (std::size_t i = 0; i < r.count && i < 4; ++i) r.value = r.value * 256 + Pair(line, 4 + i);
  }
  return r;
}

FileCheck CheckFile(std::string_view text) {
  FileCheck check;
  DataSpans spans;
  std::uint64_t base = 0;  // from the last type 02 or 04 record
  bool segmented = false;  // type 02: offsets wrap inside the 64 KiB segment
  std::size_t end_line = 0;
  std::size_t line_number = 0;
  std::size_t last_record_line = 0;
  auto fail = [&](Fault fault) {
    check.fault = fault;
    check.line = line_number;
    check.first_record = check.records == 0;
    return check;
  };
  for (std::size_t at = 0; at < text.size();) {
    ++line_number;
    const std::size_t feed = text.find('\n', at);
    std::string_view line = text.substr(at, feed == std::string_view::npos ? feed : feed - at);
    at = feed == std::string_view::npos ? text.size() : feed + 1;
    if (feed != std::string_view::npos && !line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (line.empty()) continue;
    if (end_line != 0) {
      check.other_line = end_line;
      return fail(Fault::kAfterEndRecord);
    }
    check.record = ReadRecord(line);
    if (check.record.fault != Fault::kNone) return fail(check.record.fault);
    const Record& r = check.record;
    switch (r.type) {
      case 0: {
        check.data_bytes += r.count;
        if (r.count == 0) break;
        const std::uint64_t wrap = segmented ? base + 0x10000 : std::uint64_t{1} << 32;
        const std::uint64_t restart = segmented ? base : 0;
        const std::uint64_t start = base + r.address;
        const std::uint64_t end = start + r.count;
        const bool ok = end <= wrap
                            ? spans.Add(start, end, line_number, check)
                            : spans.Add(start, wrap, line_number, check) &&
                                  spans.Add(restart, restart + (end - wrap), line_number, check);
        if (!ok) return fail(Fault::kOverlap);
        break;
      }
      case 1:
        end_line = line_number;
        break;
      case 2:
      case 4:
        segmented = r.type == 2;
        base = segmented ? std::uint64_t{r.value} * 16 : std::uint64_t{r.value} << 16;
        break;
      default:
        break;
    }
    ++check.records;
    last_record_line = line_number;
  }
  if (end_line == 0) {
    line_number = last_record_line;
    check.record = {};
    return fail(Fault::kNoEndRecord);
  }
  return check;
}

std::string Describe(const FileCheck& check, std::string_view file_name) {
  const std::string name(file_name);
  const std::string where = name + ", line " + std::to_string(check.line) + ": ";
  const Record& r = check.record;
  switch (check.fault) {
    case Fault::kNone:
      return {};
    case Fault::kNoColon:
      if (check.first_record) {
        return name + " is not an Intel HEX file: line " + std::to_string(check.line) +
               " does not start with \":\".";
      }
      return where + "the line does not start with \":\".";
    case Fault::kBadCharacter: {
      const auto byte = static_cast<unsigned char>(r.character);
      const std::string shown = byte >= 0x21 && byte < 0x7F
                                    ? "\"" + std::string(1, r.character) + "\""
                                    : "byte " + Hex(byte, 2);
      return where + "character " + std::to_string(r.column) + " (" + shown +
             ") is not a hexadecimal digit.";
    }
    case Fault::kTooShort:
      return where + "the record is too short: " + std::to_string(r.digits) +
             " digits, where byte count, address, type and checksum alone take 10.";
    case Fault::kOddDigits:
      return where + "the record has an odd number of digits (" + std::to_string(r.digits) +
             "): one is missing or one too many.";
    case Fault::kCountMismatch:
      return where + "the byte count says " + std::to_string(r.count) +
             " data bytes, the record holds " + std::to_string(r.digits / 2 - 5) + ".";
    case Fault::kUnknownType:
      return where + "record type " + Hex(r.type, 2) + " is not an Intel HEX type (00 to 05).";
    case Fault::kTypeLength:
      return where + "a record of type " + Hex(r.type, 2) + " holds " +
             std::to_string(FixedLength(r.type)) + " data bytes, this one holds " +
             std::to_string(r.count) + ".";
    case Fault::kChecksum:
      return where + "the checksum is " + Hex(r.checksum, 2) + ", the record's bytes give " +
             Hex(r.expected, 2) + ".";
    case Fault::kNoEndRecord:
      if (check.records == 0) return name + " is not an Intel HEX file: it holds no records.";
      return where + "the file ends without an end-of-file record (:00000001FF).";
    case Fault::kAfterEndRecord:
      return where + "the file goes on after its end-of-file record on line " +
             std::to_string(check.other_line) + ".";
    case Fault::kOverlap:
      return where + "data for address " + Hex(check.address, 4) + " was already given on line " +
             std::to_string(check.other_line) + ".";
  }
  return {};
}

}  // namespace velmora::intel_hex
