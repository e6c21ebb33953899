// Checks a program file as the boot loader receives it: Intel HEX records, piece by piece.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora::cardsim {

// Fed with the bytes of the transfer as they arrive, in pieces of any size. Records are ":" +
// byte count + address + type + data + checksum, in hexadecimal pairs, separated by CR LF or LF
// (blank lines are tolerated); the transfer ends with the end-of-file record (type 01).
// Only the first fault is remembered: the boot loader reports one, the one an engineer must fix.
class IntelHexChecker {
 public:
  // Takes bytes up to and including the end record and returns how many it took, so that the
  // caller can tell the file from whatever follows it. Once the end record is in, takes nothing.
  std::size_t Feed(std::string_view bytes);

  // The transfer is over: a last record without a line end is judged as it stands.
  void Finish();

  bool EndSeen() const { return end_seen_; }
  bool Ok() const { return first_error_.empty(); }
  std::size_t Records() const { return records_; }
  std::size_t DataBytes() const { return data_bytes_; }
  // "bad checksum in record 17", or empty while no fault has been found.
  const std::string& FirstError() const { return first_error_; }

  // The card's one-line report: "Program received: 3 records, 32 data bytes, checksums OK" or
  // "Program error: ...". A transfer that stopped before its end record counts as an error.
  std::string Verdict() const;

 private:
  void EndLine();
  void CheckRecord();
  void Fail(const std::string& what);
  bool LineIsCompleteEndRecord() const;

  // A record holds at most 255 data bytes: 1 + 2 * (1 + 2 + 1 + 255 + 1) characters. Anything
  // longer is garbage; only its start is kept, so the buffer stays bounded. Records are read by
  // the shared reader (velmora_intel_hex); the card words its faults by record number.
  static constexpr std::size_t kMaxRecordChars = 521;

  std::string line_;
  bool line_too_long_ = false;
  bool end_seen_ = false;
  std::size_t records_ = 0;
  std::size_t data_bytes_ = 0;
  std::string first_error_;
};

}  // namespace velmora::cardsim
