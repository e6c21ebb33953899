// The program file check: which files pass, and what the engineer is told about the others;
// srec_info (srecord), an independent reader, must judge every file alike.
#include "intel_hex/intel_hex.h"

#include <gtest/gtest.h>
#include <stdlib.h>

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
    const char* apart = "";  // why srec_info judges otherwise, by design
  };
  char pattern[] = "/tmp/velmora-hex-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern, file = dir / "p.hex";
  std::ofstream(dir / "p.bin", std::ios::binary) << Slurp("/proc/self/exe").substr(0, 4000);
  const std::string objcopy = "objcopy -I binary -O ihex " + (dir / "p.bin").string() + " " +
                              file.string();
  ASSERT_EQ(std::system(objcopy.c_str()), 0) << "objcopy failed";
  const Row rows[] = {
      {"objcopy's output of a real binary", Slurp(file), ""},
      {"CR LF", kData + kEnd, ""},
      {"LF, lower case, blank lines, no last line end",
       "\n:10010000214601360121470136007efe09d2190140\n\n:00000001ff\n\n", ""},
      {"address records", ":020000040800F2\r\n" + kData + ":0400000508000131BD\r\n" + kEnd, ""},
      {"same offsets on other pages",
       ":020000040001F9\n" + kData + ":020000040002F8\n" + kData + kEnd, ""},
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
       "p.hex, line 4: the file goes on after its end-of-file record on line 2.",
       "srec_info stops reading at the end record"},
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
    // A fault ends srec_info with an error; records out of order only bring a warning, which
    // counts as bad here too.
    std::ofstream(file, std::ios::binary) << row.file;
    const std::string command = "srec_info " + file.string() + " -Intel >/dev/null 2>" +
                                file.string() + ".said";
    const bool accepted = std::system(command.c_str()) == 0 &&
                          Slurp(file.string() + ".said").find("warning") == std::string::npos;
    EXPECT_EQ(accepted, row.told.empty() == !*row.apart) << row.name << ", srec_info";
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace velmora::intel_hex
