// The boot loader's check of a program file: what it accepts and what it points at.
#include "cardsim/intel_hex.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora::cardsim {
namespace {

const std::string kData1 = ":10010000214601360121470136007EFE09D2190140";
const std::string kData2 = ":100110002146017E17C20001FF5F16002148011928";
const std::string kEnd = ":00000001FF";

std::string Verdict(const std::string& file) {
  IntelHexChecker checker;
  checker.Feed(file);
  checker.Finish();
  return checker.Verdict();
}

TEST(IntelHexChecker, AcceptsCrLfOrLfBetweenRecordsAndCountsDataBytes) {
  EXPECT_EQ(Verdict(kData1 + "\r\n" + kData2 + "\r\n" + kEnd + "\r\n"),
            "Program received: 3 records, 32 data bytes, checksums OK");
  EXPECT_EQ(Verdict(kData1 + "\n" + kData2 + "\n" + kEnd + "\n"),
            "Program received: 3 records, 32 data bytes, checksums OK");
}

TEST(IntelHexChecker, AcceptsLowerCaseDigitsBlankLinesAndAddressRecords) {
  // Extended linear address (04) and start address (05) records as a linker writes them.
  const std::string file = ":020000040800F2\r\n\r\n" +
                           std::string(":10010000214601360121470136007efe09d2190140") +
                           "\r\n:0400000508000131BD\r\n" + kEnd + "\r\n";
  EXPECT_EQ(Verdict(file), "Program received: 4 records, 16 data bytes, checksums OK");
}

TEST(IntelHexChecker, StopsTakingBytesRightAfterTheEndRecord) {
  IntelHexChecker checker;
  const std::string file = kData1 + "\r\n" + kEnd + "\r\ntrailing";
  EXPECT_EQ(checker.Feed(file), kData1.size() + 2 + kEnd.size());
  EXPECT_TRUE(checker.EndSeen());
  EXPECT_EQ(checker.Feed("more"), 0u);
  EXPECT_TRUE(checker.Ok());
}

TEST(IntelHexChecker, NamesTheFirstFaultyRecordByItsNumber) {
  struct Case {
    std::string record;
    std::string fault;
  };
  const Case cases[] = {
      {":100110002146017E17C20001FF5F16002148011929", "bad checksum in record 2"},
      {"100110002146017E17C20001FF5F16002148011928", "record 2 does not start with ':'"},
      {":100110002146017E17C20001FF5F1600214801192G", "bad hex digit in record 2"},
      {":110110002146017E17C20001FF5F16002148011928",
       "record 2 length does not match its byte count"},
      {":100110002146017E17C20001FF5F160021480119280", "odd number of digits in record 2"},
      {":0000000700", "unknown record type 07 in record 2"},
      {":01000001FF00", "record 2 length does not match its type"},
      {":0000", "record 2 is too short"},
      {":" + std::string(600, '0'), "record 2 is too long"},
  };
  for (const Case& c : cases) {
    const std::string file = kData1 + "\r\n" + c.record + "\r\n" + kData2 + "9\r\n" + kEnd + "\r\n";
    EXPECT_EQ(Verdict(file), "Program error: " + c.fault) << c.record;
  }
}

TEST(IntelHexChecker, FileThatStopsEarlyHasNoEndRecord) {
  EXPECT_EQ(Verdict(kData1 + "\r\n" + kData2), "Program error: no end record after 2 records");
  EXPECT_EQ(Verdict(kData1), "Program error: no end record after 1 record");
}

TEST(IntelHexChecker, EndRecordCountsWithoutALineEnd) {
  IntelHexChecker checker;
  checker.Feed(kData1 + "\r\n" + kEnd);
  EXPECT_TRUE(checker.EndSeen());
}

TEST(IntelHexChecker, RecordsSplitAtAnyByteAreJudgedTheSame) {
  const std::string file = kData1 + "\r\n" + kData2 + "\r\n" + kEnd + "\r\n";
  for (std::size_t piece = 1; piece < 12; ++piece) {
    IntelHexChecker checker;
    for (std::size_t at = 0; at < file.size(); at += piece) checker.Feed(file.substr(at, piece));
    EXPECT_EQ(checker.Verdict(), "Program received: 3 records, 32 data bytes, checksums OK")
        << piece;
  }
}

}  // namespace
}  // namespace velmora::cardsim
