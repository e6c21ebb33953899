// Intel HEX, read one way for the console's check of a program file and for the simulated
// card's boot loader. Plain C++: neither side's code is needed here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::intel_hex {

// Larger than any flash the card could hold: such a file is not a program.
constexpr std::int64_t kMaxFileBytes = 16 * 1024 * 1024;

// In the order they are looked for: a record shows only the first.
enum class Fault {
  kNone,
  kNoColon,         // the line does not start with ":"
  kBadCharacter,    // `column` holds a character that is not a hexadecimal digit
  kTooShort,        // fewer than the 10 digits of byte count, address, type and checksum
  kOddDigits,       // an odd number of digits
  kCountMismatch,   // the byte count disagrees with the digits that follow it
  kUnknownType,     // a type above 05
  kTypeLength,      // a type 01 to 05 with a byte count other than the one it must have
  kChecksum,        // `checksum` is not `expected`
  kNoEndRecord,     // the file ends without a type 01 record
  kAfterEndRecord,  // a line that is not blank after the end record on `other_line`
  kOverlap,         // the data at `address` was already given on `other_line`
};

struct Record {
  Fault fault = Fault::kNone;
  std::size_t column = 0;  // kBadCharacter: position in the line, the colon being 1
  char character = 0;      // kBadCharacter: the character itself
  std::size_t digits = 0;  // characters behind the colon
  unsigned count = 0;
  unsigned address = 0;
  unsigned type = 0;
  unsigned checksum = 0;  // as written
  unsigned expected = 0;  // what the record's other bytes make it
  // Types 02 to 05: the record's data bytes as one big-endian number.
  std::uint32_t value = 0;
};

// One line, without its line end. Fields are filled as far as the first fault lets them.
Record ReadRecord(std::string_view line);

// Type 01 to 05: the byte count the format fixes.
constexpr unsigned FixedLength(unsigned type) {
  return type == 1 ? 0 : type % 2 == 1 ? 4 : 2;
}

struct FileCheck {
  Fault fault = Fault::kNone;
  std::size_t line = 0;        // of the fault, the first line being 1
  std::size_t other_line = 0;  // kOverlap, kAfterEndRecord
  std::uint64_t address = 0;   // kOverlap
  bool first_record = false;   // the fault is in the file's first line that is not blank
  Record record;               // the faulty line's reading
  std::size_t records = 0;
  std::size_t data_bytes = 0;
  bool Ok() const { return fault == Fault::kNone; }
};

// A whole program file: records on lines ended by CR LF or LF, blank lines between them, one
// end record, nothing but blank lines after it, no address given data twice.
FileCheck CheckFile(std::string_view text);

// The fault in an engineer's words, naming the file (by its bare name) and the line.
std::string Describe(const FileCheck& check, std::string_view file_name);

}  // namespace velmora::intel_hex
