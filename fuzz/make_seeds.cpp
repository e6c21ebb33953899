// Writes the seed corpora of the fuzz targets (fuzz/make-corpus runs it):
//   console/  inputs of fuzz_console: recorded card output fed in pieces with poll ticks and the
//             engineer's usual actions, downloads, and the reply lines the unit tests use
//   numbers/  texts for fuzz_numbers: the number texts of the tests and the values of reply lines
//
//   fuzz_make_seeds OUT_DIR [--card NAME=FILE]... [--tests FILE]...
//
// --card gives the bytes a simulated card sent (velmora-cardsim --record-sent); --tests a test
// source whose string literals are mined for reply lines and number texts.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "console_input.h"

namespace {

using velmora::fuzz::InputWriter;
using velmora::fuzz::Step;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "fuzz_make_seeds: cannot read " << path << "\n";
    std::exit(1);
  }
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) {
    std::cerr << "fuzz_make_seeds: cannot write " << path << "\n";
    std::exit(1);
  }
}

// The string literals of a C++ source, escapes resolved; adjacent literals stay separate.
std::vector<std::string> Literals(const std::string& source) {
  std::vector<std::string> found;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '/' && i + 1 < source.size() && source[i + 1] == '/') {
      i = source.find('\n', i);
      if (i == std::string::npos) break;
      continue;
    }
    if (source[i] == '\'') {  // a character literal such as '"'
      i = source.find('\'', i + (source[i + 1] == '\\' ? 3 : 2));
      if (i == std::string::npos) break;
      continue;
    }
    if (source[i] != '"') continue;
    std::string text;
    for (++i; i < source.size() && source[i] != '"'; ++i) {
      char ch = source[i];
      if (ch == '\\' && i + 1 < source.size()) {
        const char e = source[++i];
        switch (e) {
          case 'r':
            ch = '\r';
            break;
          case 'n':
            ch = '\n';
            break;
          case 't':
            ch = '\t';
            break;
          case '0':
            ch = '\0';
            break;
          case 'x': {
            int v = 0, n = 0;
            while (n < 2 && i + 1 < source.size() &&
                   std::isxdigit(static_cast<unsigned char>(source[i + 1]))) {
              v = v * 16 + std::stoi(std::string(1, source[++i]), nullptr, 16);
              ++n;
            }
            ch = static_cast<char>(v);
            break;
          }
          default:
            ch = e;
            break;
        }
      }
      text += ch;
    }
    found.push_back(text);
  }
  return found;
}

const char* const kMarkers[] = {
    "Boot Loader Initialized",
    "Line Card Application Initialized",
    "CPE Application Initialized",
    "Maximum CPU%",
    "cpe_reset #",
    "Stops Application",
    "    Version:  ",
    "op_status: ",
    "Subscriber ",
    "Starting Ranging",
    "Ranging Completed Successfully",
    "Starting Acquisition",
    "Communications Lost",
    "Commanded Reset",
    "SFD Loss Count: ",
    "FF28: ",
    "FF12: ",
    "0000: ",
    "0004: ",
    "0005: ",
    "hook_state: ",
    "ring_state: ",
    "Channel ",
    "OFF HOOK",
    "ON HOOK",
    "RING ON",
    "RING OFF",
    "temperature: ",
    "Boot Loader Ready",
    "Boot Loader Stopped",
};

// Replies whose values are numbers: what stands behind the marker, up to the line end.
const char* const kNumericMarkers[] = {
    "op_status: ", "SFD Loss Count: ", "FF28: ",       "FF12: ",        "0000: ",      "0004: ",
    "0005: ",      "hook_state: ",     "ring_state: ", "temperature: ", "Subscriber ", "Channel ",
};
constexpr std::size_t kMaxNumberTexts = 130;

void NumericValues(const std::string& text, std::set<std::string>& values) {
  for (const char* marker : kNumericMarkers) {
    const std::string m = marker;
    for (std::size_t at = text.find(m); at != std::string::npos; at = text.find(m, at + 1)) {
      const std::size_t from = at + m.size();
      const std::size_t end = text.find_first_of("\r\n", from);
      const std::string value = text.substr(from, end == std::string::npos ? end : end - from);
      if (!value.empty() && value.size() <= 24) values.insert(value);
    }
  }
}

// The number tests' own texts: short ones that hold something a number is made of.
bool IsNumberLike(const std::string& text) {
  return text.size() < 40 && text.find_first_of("0123456789&") != std::string::npos;
}

bool IsReplyLine(const std::string& text) {
  for (const char* m : kMarkers)
    if (text.find(m) != std::string::npos) return true;
  return false;
}

// Received text in pieces of a few lines, cut in the middle of a line now and then, as a port
// delivers it; a poll tick after each piece.
std::vector<std::string> Pieces(const std::string& bytes) {
  std::vector<std::string> pieces;
  std::size_t at = 0;
  for (int n = 1; at < bytes.size(); ++n) {
    std::size_t end = at;
    for (int lines = 0; lines < 3; ++lines) {
      const std::size_t crlf = bytes.find("\r\n", end);
      if (crlf == std::string::npos) {
        end = bytes.size();
        break;
      }
      end = crlf + 2;
    }
    if (n % 4 == 0 && end - at > 10) end -= 7;  // a line split over two events
    pieces.push_back(bytes.substr(at, end - at));
    at = end;
  }
  return pieces;
}

struct Seeds {
  std::string dir;
  int written = 0;
  void Write(const std::string& name, const InputWriter& w) {
    WriteFile(dir + "/" + name, w.Bytes());
    ++written;
  }
};

void FeedAll(InputWriter& w, const std::vector<std::string>& pieces, int from = 0, int to = -1,
             Step between = Step::Tick) {
  if (to < 0) to = static_cast<int>(pieces.size());
  for (int i = from; i < to && i < static_cast<int>(pieces.size()); ++i) {
    w.Add(Step::FeedRaw);
    w.String(pieces[static_cast<std::size_t>(i)], 6000);
    w.Add(between);
  }
}

void Feed(InputWriter& w, const std::string& bytes) {
  w.Add(Step::FeedRaw);
  w.String(bytes, 6000);
}

void CardSeeds(Seeds& out, const std::string& name, const std::string& bytes) {
  const auto pieces = Pieces(bytes);
  const int half = static_cast<int>(pieces.size()) / 2;
  {  // as received, with the poll cycle running
    InputWriter w;
    FeedAll(w, pieces);
    out.Write(name + "-received", w);
  }
  {  // on the Status tab, looking at each CPE in turn
    InputWriter w;
    w.Add(Step::ShowTab);
    w.In(1, 0, 2);
    for (int i = 0; i < static_cast<int>(pieces.size()); ++i) {
      FeedAll(w, pieces, i, i + 1);
      if (i % 3 == 2) {
        w.Add(Step::ChooseCpe);
        w.In(i / 3 % 4, -1, 4);
      }
    }
    out.Write(name + "-status", w);
  }
  {  // on the Terminal tab, logging, with a typed command
    InputWriter w;
    w.Add(Step::ShowTab);
    w.In(2, 0, 2);
    FeedAll(w, pieces, 0, half);
    w.Add(Step::ClickLogging);
    w.In(1, 0, 4);
    w.In(1, 0, 4, 8);  // old.txt
    w.Add(Step::EditCommandLine);
    w.Text("op_status");
    w.Add(Step::CommandLineKey);
    w.In(0, 0, 2);
    FeedAll(w, pieces, half);
    w.Add(Step::CommandLineKey);
    w.In(1, 0, 2);
    w.Add(Step::ClickLogging);
    w.In(0, 0, 4);
    w.In(0, 0, 4, 8);
    w.Add(Step::Time);
    w.In(1000, 0, 20000);
    out.Write(name + "-terminal-logging", w);
  }
  {  // settings edited and stored
    InputWriter w;
    FeedAll(w, pieces, 0, half);
    w.Add(Step::PasteSfd);
    w.Text("30x0");
    w.Add(Step::ClickSfd);
    w.Add(Step::TypeSfd);
    w.In(3, 1, 8);
    for (int key : {2, 0, 1}) {
      w.In(key == 2 ? 2 : 0, 0, 3);
      if (key != 2) w.In(7, 0, 9);
    }
    w.Add(Step::ChooseGeneric);
    w.In(1, -1, 4);
    w.Add(Step::ClickGeneric);
    w.Add(Step::ChooseV35);
    w.In(2, -1, 3);
    w.Add(Step::ClickV35);
    w.Add(Step::Tick);
    FeedAll(w, pieces, half);
    w.Add(Step::EditSfd);
    w.Text("99999999999999999999999999999999999999999999");
    w.Add(Step::ClickSfd);
    w.Add(Step::Time);
    w.In(1000, 0, 20000);
    out.Write(name + "-settings", w);
  }
  {  // the cable pulled half way, the port chosen again
    InputWriter w;
    FeedAll(w, pieces, 0, half);
    w.Add(Step::LosePort);
    w.Add(Step::Tick);
    w.Add(Step::RunDeferred);
    w.Add(Step::ChoosePort);
    w.In(1, 0, 3);
    FeedAll(w, pieces, half);
    out.Write(name + "-unplugged", w);
  }
}

// Downloads from the application: the boot loader's answers come as the card sends them.
void DownloadSeeds(Seeds& out, const std::string& bootOutput) {
  const std::string banner = "Line Card Application Initialized\r\n";
  const auto start = [&](InputWriter& w, int length) {
    Feed(w, banner);
    w.Add(Step::Tick);
    w.Add(Step::StartDownload);
    w.In(3, 0, 5);
    w.In(length, 0, 12000, 8);
  };
  const auto handshake = [](InputWriter& w) {
    Feed(w, "Boot Loader Initialized\r\n");
    w.Add(Step::Time);
    w.In(300, 0, 20000);
    Feed(w, "Boot Loader Ready\r\n");
    w.Add(Step::Time);
    w.In(100, 0, 20000);
    Feed(w, "Boot Loader Stopped\r\n");
  };
  {  // the whole way: handshake, transfer paced by send events, flashing, restart
    InputWriter w;
    start(w, 10500);
    handshake(w);
    for (int i = 0; i < 10; ++i) w.Add(Step::Send);
    w.Add(Step::Time);
    w.In(8400, 0, 20000);
    Feed(w, bootOutput.substr(0, 2000));
    out.Write("download-complete", w);
  }
  {  // a file the first burst holds whole
    InputWriter w;
    start(w, 1500);
    handshake(w);
    w.Add(Step::Time);
    w.In(9000, 0, 20000);
    out.Write("download-short-file", w);
  }
  {  // aborted while sending
    InputWriter w;
    start(w, 6000);
    handshake(w);
    w.Add(Step::Send);
    w.Add(Step::ClickDownload);
    w.Add(Step::Send);
    w.Add(Step::Tick);
    out.Write("download-aborted", w);
  }
  {  // no boot loader: two resets, then the time-out box
    InputWriter w;
    start(w, 3000);
    w.Add(Step::Time);
    w.In(18100, 0, 20000);
    out.Write("download-not-detected", w);
  }
  {  // the boot loader stays silent after "stop"
    InputWriter w;
    start(w, 3000);
    Feed(w, "Boot Lo");
    Feed(w, "ader Ready\r\n");
    w.Add(Step::Time);
    w.In(2100, 0, 20000);
    out.Write("download-unresponsive", w);
  }
  {  // the cable pulled while sending
    InputWriter w;
    start(w, 5000);
    handshake(w);
    w.Add(Step::Send);
    w.Add(Step::LosePort);
    w.Add(Step::Send);
    w.Add(Step::RunDeferred);
    w.Add(Step::Time);
    w.In(500, 0, 20000);
    out.Write("download-unplugged", w);
  }
  {  // an abort clicked while the handshake lets pending events run
    InputWriter w;
    start(w, 4000);
    Feed(w, "Boot Loader Ready\r\n");
    w.Add(Step::PendingThenStopped);
    w.Add(Step::ClickDownload);
    w.Add(Step::Send);
    out.Write("download-abort-in-pending-events", w);
  }
  {  // the program file cannot be read when the transfer begins; logging goes on throughout
    InputWriter w;
    w.Add(Step::ShowTab);
    w.In(2, 0, 2);
    Feed(w, banner);
    w.Add(Step::ClickLogging);
    w.In(1, 0, 4);
    w.In(0, 0, 4, 8);
    w.Add(Step::ShowTab);
    w.In(0, 0, 2);
    w.Add(Step::StartDownload);
    w.In(4, 0, 5);
    w.In(2500, 0, 12000, 8);
    w.Add(Step::ProgramFileGone);
    w.Add(Step::ArmModalEvents);
    w.In(1, 0, 3);
    handshake(w);
    Feed(w, "after\r\n");
    out.Write("download-file-gone", w);
  }
}

// The reply lines of one test file, after each program's banner.
void TestLineSeeds(Seeds& out, const std::string& name, const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  const std::pair<const char*, const char*> programs[] = {
      {"linecard", "Line Card Application Initialized\r\n"},
      {"cpe", "CPE Application Initialized\r\n"},
      {"boot", "Boot Loader Initialized\r\n"},
  };
  for (const auto& [program, banner] : programs) {
    InputWriter w;
    w.Add(Step::ShowTab);
    w.In(1, 0, 2);
    Feed(w, banner);
    for (const std::string& line : lines) {
      Feed(w, line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0 ? line
                                                                                : line + "\r\n");
      w.Add(Step::Tick);
    }
    out.Write(name + "-" + program, w);
  }
}

// Number texts: what the number rules are asked to read.
void NumberSeeds(const std::string& dir, const std::vector<std::string>& texts, int& written) {
  for (const std::string& text : texts) {
    char name[32];
    std::snprintf(name, sizeof name, "text-%03d", written);
    WriteFile(dir + "/" + name, text);
    ++written;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: fuzz_make_seeds OUT_DIR [--card NAME=FILE]... [--tests FILE]...\n";
    return 2;
  }
  const std::string outDir = argv[1];
  std::vector<std::pair<std::string, std::string>> cards;
  std::vector<std::string> tests;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--card") {
      const auto eq = value.find('=');
      cards.emplace_back(value.substr(0, eq), ReadFile(value.substr(eq + 1)));
    } else if (option == "--tests") {
      tests.push_back(value);
    } else {
      std::cerr << "fuzz_make_seeds: unknown option " << option << "\n";
      return 2;
    }
  }

  Seeds console{outDir + "/console"};
  std::string bootOutput;
  for (const auto& [name, bytes] : cards) {
    CardSeeds(console, name, bytes);
    if (name == "boot") bootOutput = bytes;
  }
  DownloadSeeds(console, bootOutput);

  std::set<std::string> numberTexts;
  std::set<std::string> replyValues;
  for (const std::string& path : tests) {
    const auto literals = Literals(ReadFile(path));
    std::string name = path.substr(path.find_last_of('/') + 1);
    name = name.substr(0, name.find("_test"));
    std::vector<std::string> lines;
    std::set<std::string> seen;
    for (const std::string& text : literals) {
      if (IsReplyLine(text) && seen.insert(text).second) lines.push_back(text);
      if (name == "numbers" && IsNumberLike(text)) numberTexts.insert(text);
      NumericValues(text, replyValues);
    }
    TestLineSeeds(console, name, lines);
  }
  for (const auto& card : cards) NumericValues(card.second, replyValues);
  // The values of numeric replies, read as the parsers read them: hexadecimal and decimal.
  for (const std::string& value : replyValues) {
    if (numberTexts.size() >= kMaxNumberTexts) break;
    numberTexts.insert("&H" + value);
    numberTexts.insert(value);
  }
  int numbers = 0;
  NumberSeeds(outDir + "/numbers", {numberTexts.begin(), numberTexts.end()}, numbers);
  std::cout << "fuzz_make_seeds: " << console.written << " console seeds, " << numbers
            << " number texts in " << outDir << "\n";
  return 0;
}
