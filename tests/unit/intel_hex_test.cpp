// The program file check: which files pass, and what the engineer is told about the others;
// srec_info (srecord), an independent reader, must judge every file of the fuzz corpus alike.
#include "intel_hex/intel_hex.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace velmora::intel_hex {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

const std::string kData = ":10010000214601360121470136007EFE09D2190140\r\n";  // 0100 to 010F
const std::string kEnd = ":00000001FF\r\n";

TEST(IntelHexCheck, PassesSoundFilesAndNamesTheLineAndFaultOfOthers) {
  struct Row {
    const char* name;
    std::string file;
    std::string told;  // empty: the file passes
  };
  const Row rows[] = {
      {"CR LF", kData + kEnd, ""},
      // Sound files of every shape are in the fuzz corpus, below.
      {"a text file", "build log\nall fine\n",
       "p.hex is not an Intel HEX file: line 1 does not start with \":\"."},
      {"a binary file",
       std::string("\x7F"
                   "ELF\x02\x01\x01\0\0",
                   9),
       "p.hex is not an Intel HEX file: line 1 does not start with \":\"."},
      {"blank lines only", "\r\n\n", "p.hex is not an Intel HEX file: it holds no records."},
      {"no colon", kData + kData.substr(1) + kEnd,
       "p.hex, line 2: the line does not start with \":\"."},
      {"not a digit", kData + ":1001100021460G" + kData.substr(15) + kEnd,
       "p.hex, line 2: character 15 (\"G\") is not a hexadecimal digit."},
      {"CR alone", ":00000001FF\r\r\n",
       "p.hex, line 1: character 12 (byte 0D) is not a hexadecimal digit."},
      {"too short", ":000001FF\n",
       "p.hex, line 1: the record is too short: 8 digits, where byte "
       "count, address, type and checksum alone take 10."},
      {"odd digits", ":00000001FF0\n",
       "p.hex, line 1: the record has an odd number of digits (11): one is missing or one too "
       "many."},
      {"byte count", ":0F" + kData.substr(3) + kEnd,
       "p.hex, line 1: the byte count says 15 data bytes, the record holds 16."},
      {"type 06", ":00000006FA\n" + kEnd,
       "p.hex, line 1: record type 06 is not an Intel HEX type (00 to 05)."},
      {"type 04 length", ":0100000400FB\n" + kEnd,
       "p.hex, line 1: a record of type 04 holds 2 data bytes, this one holds 1."},
      {"end record length", ":0100000100FE\n",
       "p.hex, line 1: a record of type 01 holds 0 data bytes, this one holds 1."},
      {"checksum", "\r\n" + kData.substr(0, 41) + "4A\r\n" + kEnd,
       "p.hex, line 2: the checksum is 4A, the record's bytes give 40."},
      {"no end record", kData + "\r\n",
       "p.hex, line 1: the file ends without an end-of-file record (:00000001FF)."},
      {"data after the end", kData + kEnd + "\r\n" + kData,
       "p.hex, line 4: the file goes on after its end-of-file record on line 2."},
      {"two end records", kEnd + kEnd,
       "p.hex, line 2: the file goes on after its end-of-file record on line 1."},
      {"overlap", kData + ":02010800AABB90\r\n" + kEnd,
       "p.hex, line 2: data for address 0108 was already given on line 1."},
      {"overlap by segment and linear address",
       ":020000021000EC\n" + kData + ":020000040001F9\n" + kData + kEnd,
       "p.hex, line 4: data for address 10100 was already given on line 2."},
  };
  for (const Row& row : rows) {
    const FileCheck check = CheckFile(row.file);
    EXPECT_EQ(check.Ok(), row.told.empty()) << row.name;
    EXPECT_EQ(Describe(check, "p.hex"), row.told) << row.name;
  }
}

// Sound and broken files, written by hand, by objcopy and by the fuzzer. A fault ends srec_info
// with an error or a warning. Records out of order bring a warning too, which is all it says of
// data given twice, and it stops reading at the end record: we are stricter there, by design.
TEST(IntelHexCheck, SrecInfoJudgesEveryFileOfTheFuzzCorpusAlike) {
  const fs::path said = fs::temp_directory_path() / ("velmora-srec-" + std::to_string(getpid()));
  int sound = 0, broken = 0;
  for (const auto& entry : fs::directory_iterator(VELMORA_INTEL_HEX_CORPUS)) {
    const FileCheck check = CheckFile(Slurp(entry.path()));
    (check.Ok() ? sound : broken)++;
    const std::string command =
        "srec_info '" + entry.path().string() + "' -Intel >/dev/null 2>" + said.string();
    const bool ran = std::system(command.c_str()) == 0;
    std::string words;  // its lines are wrapped wherever the path puts them: unwrapped
    for (const unsigned char ch : Slurp(said))
      if (!std::isspace(ch) || (!words.empty() && words.back() != ' '))
        words += std::isspace(ch) ? ' ' : static_cast<char>(ch);
    const auto unordered = words.find("warning: data records not in strictly ascending order");
    if (unordered != std::string::npos) words.erase(unordered, 8);
    const bool accepted = ran && words.find("warning") == std::string::npos;
    EXPECT_TRUE(accepted == check.Ok() || check.fault == Fault::kAfterEndRecord ||
                (accepted && unordered != std::string::npos && check.fault == Fault::kOverlap))
        << entry.path() << words;
  }
  fs::remove(said);
  EXPECT_GT(sound, 5);
  EXPECT_GT(broken, 5);
}

}  // namespace
}  // namespace velmora::intel_hex
