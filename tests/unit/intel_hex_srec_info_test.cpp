// Our check of program files against an independent reader, srec_info (srecord), on files made
// from a real binary by objcopy and then broken on purpose.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "intel_hex/intel_hex.h"

namespace velmora::intel_hex {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Joined(const std::vector<std::string>& lines, const std::string& end) {
  std::string text;
  for (const std::string& line : lines) text += line + end;
  return text;
}

// srec_info's opinion: a fault ends it with an error; a missing end record or records out of
// order only bring a warning, which counts as bad here too.
bool SrecInfoAccepts(const fs::path& file) {
  const fs::path said = file.string() + ".said";
  const std::string command =
      "srec_info '" + file.string() + "' -Intel >/dev/null 2>'" + said.string() + "'";
  return std::system(command.c_str()) == 0 && Slurp(said).find("warning") == std::string::npos;
}

TEST(IntelHexAgainstSrecInfo, BothReadersJudgeEveryFileAlike) {
  char pattern[] = "/tmp/velmora-hex-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path dir = pattern;
  std::ofstream(dir / "program.bin", std::ios::binary) << Slurp("/proc/self/exe").substr(0, 4000);
  const std::string objcopy = "objcopy -I binary -O ihex " + (dir / "program.bin").string() + " " +
                              (dir / "good.hex").string();
  ASSERT_EQ(std::system(objcopy.c_str()), 0) << "objcopy failed";
  std::vector<std::string> good;  // the records, without their CR LF
  const std::string text = Slurp(dir / "good.hex");
  for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1)
    good.push_back(text.substr(at, text.find('\r', at) - at));
  ASSERT_GT(good.size(), 200u);
  ASSERT_EQ(good.back(), ":00000001FF");
  auto broken = [&](auto change) {
    std::vector<std::string> lines = good;
    change(lines, lines[4]);
    return Joined(lines, "\r\n");
  };

  struct Row {
    const char* name;
    std::string file;
    bool ok;
    const char* apart = "";  // why srec_info judges otherwise, by design
  };
  const Row rows[] = {
      {"objcopy's own, CR LF", text, true},
      {"LF only", Joined(good, "\n"), true},
      {"checksum", broken([](auto&, std::string& l) { l.back() = l.back() == '0' ? '1' : '0'; }),
       false},
      {"byte count", broken([](auto&, std::string& l) { l[2] = '1'; }), false},
      {"odd digit count", broken([](auto&, std::string& l) { l += "0"; }), false},
      {"end record missing", broken([](auto& ls, auto&) { ls.pop_back(); }), false},
      {"data after the end record", broken([](auto& ls, auto& l) { ls.push_back(l); }), false,
       "srec_info stops reading at the end record"},
      {"record type 06", broken([](auto& ls, auto&) { ls.insert(ls.begin() + 4, ":00000006FA"); }),
       false},
      {"non-hex character", broken([](auto&, std::string& l) { l[9] = 'G'; }), false},
      // srec_info has no rule of overlap; it warns that the records are out of order.
      {"overlapping records", broken([](auto& ls, auto& l) { ls.insert(ls.begin() + 9, l); }),
       false},
      {"binary file", Slurp(dir / "program.bin"), false},
      {"text file", "make: Entering directory\ncc -o radio radio.c\n", false},
  };
  for (const Row& row : rows) {
    const fs::path file = dir / "file.hex";
    std::ofstream(file, std::ios::binary) << row.file;
    const FileCheck ours = CheckFile(row.file);
    const bool srec_info = SrecInfoAccepts(file);
    std::printf("%-28s ours %-4s srec_info %-4s %s\n", row.name, ours.Ok() ? "good" : "bad",
                srec_info ? "good" : "bad", row.apart);
    EXPECT_EQ(ours.Ok(), row.ok) << row.name << ": " << Describe(ours, "file.hex");
    EXPECT_EQ(srec_info, *row.apart ? !row.ok : row.ok) << row.name;
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace velmora::intel_hex
