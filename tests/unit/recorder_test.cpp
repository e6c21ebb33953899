// The flight recorder: its format, its ring on disk, and what the console records.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "recorder/console_recording.h"
#include "recorder/pane_times.h"
#include "recorder/replay_port.h"
#include "recorder/saving.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path path;
  explicit TempDir(const std::string& name = "rec")
      : path(fs::temp_directory_path() / ("velmora-" + name + "-" + std::to_string(::getpid()))) {
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
};

class MicroClock : public ManualClock {
 public:
  std::int64_t MonotonicUs() const override { return mono * 1000 + 7; }
};

std::string Records(const Recording& r) {
  std::string out;
  for (const Record& x : r.records) out += RecordLine(x);
  return out;
}

// Each record as "in", "out" or its event's name, with its data; events always show theirs.
std::string Named(const Recording& r, bool data) {
  std::string out;
  for (const Record& x : r.records)
    out += x.kind == RecordKind::Event ? x.name + "=" + x.data + ";"
           : (x.kind == RecordKind::In ? "in" : "out") + (data ? "=" + x.data : "") + ";";
  return out;
}

TEST(RecorderFormat, EveryByteValueSurvivesBothWaysWholeOrSplit) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::vector<std::vector<Record>> rows = {
      {{RecordKind::In, 1'000'007, "", all}, {RecordKind::Out, 1'000'007, "", all}},
      {{RecordKind::Event, 1'000'007, "box", all}, {RecordKind::Event, 1'000'007, "x\"\\", ""}},
      {{RecordKind::In, 1'000'007, "", "a"}, {RecordKind::In, 1'000'007, "", "bc"}},
  };
  std::vector<Record> split;  // one chunk per byte value, directions taking turns
  for (int b = 0; b < 256; ++b)
    split.push_back({b % 2 ? RecordKind::Out : RecordKind::In, 1'000'007, "", all.substr(b, 1)});
  rows.push_back(split);
  for (const auto& row : rows) {
    TempDir dir;
    MicroClock clock;
    {
      Recorder rec(dir.path.string(), 1 << 20, clock);
      for (const Record& r : row) rec.Add(r.kind, r.name, r.data);
    }
    const Recording back = Recorder(dir.path.string(), 1 << 20, clock).Read();
    ASSERT_FALSE(back.fault) << back.fault->Text();
    std::string want;
    for (const Record& r : row) want += RecordLine(r);
    EXPECT_EQ(Records(back), want);
    ASSERT_TRUE(back.header);
    EXPECT_EQ(back.header->wallMs, clock.wall);
  }
}

TEST(RecorderRing, DropsOldestWholeSegmentsAndStaysWithinItsLimit) {
  TempDir dir;
  MicroClock clock;
  Recorder rec(dir.path.string(), 64 * 1024, clock);  // segments of 4 KiB
  const std::string chunk(300, 'x');
  for (int i = 0; i < 2000; ++i) {
    rec.Add(RecordKind::In, {}, std::to_string(i) + chunk);
    if (i % 10 == 9) rec.Flush();
  }
  std::uintmax_t total = 0;
  for (const auto& s : rec.Segments()) total += fs::file_size(s);
  EXPECT_NEAR(static_cast<double>(total), 64 * 1024, 2 * 4096);
  EXPECT_FALSE(fs::exists(dir.path / "segment-00000001.jsonl"));
  const Recording back = rec.Read();
  ASSERT_FALSE(back.fault);
  // What is left is the newest, whole and in order.
  EXPECT_EQ(back.records.back().data, "1999" + chunk);
  const int first = std::stoi(back.records.front().data);
  EXPECT_EQ(back.records.size(), 2000u - first);
}

TEST(RecorderRead, StopsAtTheFirstFaultAndSaysWhere) {
  const std::string head =
      "{\"format\":\"velmora-recording\",\"version\":1,\"wallMs\":5,\"t\":0}\n";
  const std::string good = "{\"t\":1,\"in\":\"QUJD\"}\n";
  struct Row {
    std::string text;
    bool tornTailIsEnd;
    std::size_t records;
    std::string fault;  // empty: none
  };
  const std::vector<Row> rows = {
      {head + good + "{\"t\":2,\"in\":\"QU", true, 1, ""},  // a segment cut by a crash
      {head + good + "{\"t\":2,\"in\":\"QU", false, 1, "f, line 3: the file ends in the middle"},
      {head + good + "garbage\n" + good, false, 1, "f, line 3: not a record"},
      {head + "{\"t\":1,\"in\":\"Q!==\"}\n", false, 0, "f, line 2: bytes that are not base64"},
      {"{\"format\":\"velmora-recording\",\"version\":2,\"t\":0}\n" + good, false, 0,
       "f, line 1: a recording of a newer version (2)"},
      {"{\"version\":1}\n" + good, false, 0, "f, line 1: not a Velmora recording"},
      {"\x89PNG\r\n", false, 0, "f, line 1: not a record"},
  };
  for (const Row& row : rows) {
    Recording r;
    ParseRecording(row.text, "f", row.tornTailIsEnd, r);
    EXPECT_EQ(r.records.size(), row.records) << row.text;
    EXPECT_EQ(r.fault ? r.fault->Text().substr(0, row.fault.size()) : "", row.fault) << row.text;
  }
}

TEST(RecorderDisk, AFullDiskStopsRecordingWithOneLineAndItResumesWhenThereIsRoom) {
  TempDir dir;
  if (::mount("tmpfs", dir.path.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  struct Unmount {
    const fs::path& p;
    ~Unmount() { ::umount(p.c_str()); }
  } unmount{dir.path};
  ConsoleOnFakes fake;
  Recorder rec((dir.path / "rec").string(), 1 << 20, fake.clock);
  UseRecorder(fake.c, rec);
  { std::ofstream(dir.path / "filler") << std::string(256 * 1024, 'f'); }
  for (int i = 0; i < 5; ++i) {
    rec.Add(RecordKind::In, {}, std::string(8192, 'r'));
    rec.Flush();
  }
  EXPECT_TRUE(rec.Stopped());
  const std::string pane = fake.ui.TerminalText.Text();
  EXPECT_EQ(pane, "\r\nRecording stopped: " + (dir.path / "rec").string() +
                      " cannot be written: No space left on device.\r\n");
  fs::remove(dir.path / "filler");
  rec.Flush();
  rec.Add(RecordKind::In, {}, "after");
  rec.Flush();
  EXPECT_FALSE(rec.Stopped());
  EXPECT_EQ(fake.ui.TerminalText.Text(), pane + "\r\nRecording resumed.\r\n");
  EXPECT_EQ(rec.Read().records.back().data, "after");
}

TEST(RecorderConsole, RecordsBytesBothWaysAndTheConsolesEvents) {
  TempDir dir;
  FakePlatform fake;
  ManualClock clock;
  Recorder rec(dir.path.string(), 1 << 20, clock);
  RecordingPort port(fake.port, rec);
  Console c({port, fake.transmitTimer, fake.downloadTimer, fake.files, fake.chooser, fake.messages,
             fake.pump});
  UseRecorder(c, rec);
  fake.port.SetPort(1, FakeSerialPort::Availability::Free, "/dev/ttyX");
  Form_Load(c);
  c.ui.CommPortSelect.UserChoose(1);
  fake.port.Feed("Line Card Application Initialized\r\n");
  c.state.SfdWritePending = true;
  c.state.SfdWriteValue = 1;
  fake.clock.Advance(100);
  c.messages.Warning("a box");
  fake.port.Lose("gone");
  c.RunDeferred();
  const std::string seen = Named(rec.Read(), false);
  EXPECT_NE(seen.find("port-chosen=COM1 /dev/ttyX;port-opened=/dev/ttyX;"), std::string::npos)
      << seen;
  EXPECT_NE(seen.find("in;program="), std::string::npos) << seen;
  EXPECT_NE(seen.find("out;settings-written=wee 0 "), std::string::npos) << seen;
  EXPECT_NE(seen.find("box=a box;port-lost=gone;"), std::string::npos) << seen;
}


TEST(RecorderSave, KeepsTheChosenMinutesAsARecordingOrAnAsciicast) {
  TempDir dir;
  ConsoleOnFakes fake;
  MicroClock clock;
  Recorder rec(dir.path.string(), 1 << 20, clock);
  UseRecorder(fake.c, rec);
  rec.Add(RecordKind::In, {}, "a\xE9");
  clock.Advance(20 * 60'000);
  rec.Add(RecordKind::Out, {}, "cpu\r\n");
  clock.Advance(18 * 60'000);
  rec.Add(RecordKind::Event, "box", "x");
  rec.Add(RecordKind::In, {}, "c\r\n");
  clock.Advance(2 * 60'000);
  const std::vector<std::pair<int, std::string>> rows = {
      {0, "box=x;in=c\r\n;"},
      {1, "out=cpu\r\n;box=x;in=c\r\n;"},
      {2, "in=a\xE9;out=cpu\r\n;box=x;in=c\r\n;"}};
  for (const auto& [type, kept] : rows) {
    fake.fake.chooser.answers.push_back(ChosenFile{"/saved.jsonl", "saved.jsonl", type});
    SaveRecording_Click(fake.c);
    Recording back;
    ParseRecording(fake.fake.files.disk["/saved.jsonl"].bytes, "saved", false, back);
    EXPECT_EQ(Named(back, true), kept) << type;
    EXPECT_FALSE(back.fault);
  }
  {  // A segment of the boot before, whose clock had run far longer: earlier all the same, and
     // out of the last 5 minutes, by the wall clock.
    TempDir other("boots");
    std::ofstream(other.path / "segment-00000001.jsonl")
        << "{\"format\":\"velmora-recording\",\"version\":1,\"wallMs\":" << clock.wall - 600'000
        << ",\"t\":9000000000000}\n{\"t\":9000000000001,\"in\":\"eg==\"}\n";
    Recorder again(other.path.string(), 1 << 20, clock);
    UseRecorder(fake.c, again);
    again.Add(RecordKind::In, {}, "now");
    EXPECT_EQ(Named(again.Read(), true), "in=z;in=now;");
    fake.fake.chooser.answers.push_back(ChosenFile{"/boots.jsonl", "boots.jsonl", 0});
    SaveRecording_Click(fake.c);
    Recording saved;
    ParseRecording(fake.fake.files.disk["/boots.jsonl"].bytes, "boots", false, saved);
    EXPECT_EQ(Named(saved, true), "in=now;");
    UseRecorder(fake.c, rec);
  }
  fake.fake.chooser.answers.push_back(ChosenFile{"/s.cast", "s.cast", 5});
  SaveRecording_Click(fake.c);
  const std::string cast = fake.fake.files.disk["/s.cast"].bytes;
  EXPECT_EQ(cast.substr(cast.find('\n') + 1),
            "[0.000000, \"o\", \"a\xC3\xA9\"]\n[1200.000000, \"i\", \"cpu\\u000d\\u000a\"]\n"
            "[2280.000000, \"o\", \"c\\u000d\\u000a\"]\n");
  // asciinema's own reader reads it back: the card's output, as it was shown.
  const fs::path file = dir.path / "s.cast";
  std::ofstream(file, std::ios::binary) << cast;
  if (std::system("/usr/bin/python3 -c 'import asciinema' 2>/dev/null") != 0)
    GTEST_SKIP() << "asciinema is not installed";
  const std::string cmd =
      "/usr/bin/python3 -c 'import sys; from asciinema.asciicast import open_from_url; "
      "c = open_from_url(sys.argv[1]).__enter__(); "
      "sys.stdout.buffer.write(\"\".join(e[2] for e in c.stdout_events()).encode())' " +
      file.string() + " > " + file.string() + ".out";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream out(file.string() + ".out", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(out), {}),
            "a\xC3\xA9"
            "c\r\n");
}


TEST(RecorderReplay, PlaysTheCardsBytesWithTheirSpacingAtTheSpeedAskedThenSaysWhereItStopped) {
  TempDir dir;
  const std::string file = (dir.path / "r.jsonl").string();
  std::ofstream(file, std::ios::binary)
      << HeaderLine({1, 0, 5'000'000}) << RecordLine({RecordKind::In, 5'000'000, "", "a"})
      << RecordLine({RecordKind::Out, 5'500'000, "", "cpu\r\n"})
      << RecordLine({RecordKind::In, 6'000'000, "", "b"})
      << RecordLine({RecordKind::Out, 6'100'000, "", "help\r\nver\r\n"})
      << RecordLine({RecordKind::In, 6'400'000, "", "c"}) << "{\"t\":6500000,\"in\":\"Y";
  for (const auto& [speed, arrivals] : std::vector<std::pair<std::string, std::string>>{
           {"", "a@1=0 b@1000=1000 c@1400=1400 end@1401"},
           {"?speed=4", "a@1=0 b@250=1000 c@350=1400 end@351"}}) {
    FakeClock clock;
    FakeTimer timer(&clock);
    ReplayPort port(timer);
    port.devices = [&](int) { return "replay://" + file + speed; };
    std::string seen;
    // Each arrival now, and when it arrived then (for "Show Times").
    port.onComm = [&] {
      seen += port.Input() + "@" + std::to_string(clock.now);
      seen += "=" + std::to_string(port.ArrivedWallMs()) + " ";
    };
    port.onEnded = [&](const std::string&, const CommandComparison& sent,
                       const std::optional<ReadFault>& fault) {
      seen += "end@" + std::to_string(clock.now);
      EXPECT_EQ(sent.matched, 2u);
      EXPECT_EQ(fault ? fault->Text() : "",
                file + ", line 7: the file ends in the middle of a record");
    };
    ASSERT_FALSE(port.Open());
    port.Output("cpu\r\nver\r\n");
    clock.Advance(5000);
    EXPECT_EQ(seen, arrivals) << speed;
  }
}

TEST(RecorderReplay, ComparesTheCommandsSentWithThoseSentThen) {
  const std::vector<std::array<std::string, 3>> rows = {
      {"cpu\r\ncpu\r\nhelp\r\n", "cpu\r\nhelp\r\n", "2 of 2"},
      {"cpu\r\nhelp\r\n", "help\r\ncpu\r\n",
       "1 of 2: command 2 \"cpu\", after the recording's last command"},
      {"a\r\nb\r\nc\r\n", "a\r\nx\r\nc\r\n",
       "2 of 3: command 2 \"x\", where the recording has \"b\" next"},
  };
  for (const auto& [then, now, want] : rows) {
    const CommandComparison r = CompareCommands(then, now);
    std::string got = std::to_string(r.matched) + " of " + std::to_string(r.sent);
    if (!r.firstDifference.empty()) got += ": " + r.firstDifference;
    EXPECT_EQ(got, want) << now;
  }
  ConsoleOnFakes fake;
  ReplayEnded(fake.c, "/r.jsonl", {3, 3, ""}, ReadFault{"/r.jsonl", 7, "garbage"});
  fake.c.RunDeferred();
  EXPECT_EQ(fake.ui.TerminalText.Text(),
            "\r\nReplay of /r.jsonl ended: 3 of 3 commands matched, all commands matched.\r\n");
  EXPECT_EQ(fake.fake.messages.shown,
            std::vector<std::string>{"The recording /r.jsonl was played up to where it stopped "
                                     "being sound (/r.jsonl, line 7: garbage)."});
}


TEST(RecorderPaneTimes, EachLineHasTheTimeItsFirstByteArrivedEvenAfterTheTrim) {
  PaneTimes times;
  std::string pane;
  const auto append = [&](const std::string& text, std::int64_t ms, std::size_t cap) {
    pane = (pane + text).substr((pane + text).size() > cap ? (pane + text).size() - cap : 0);
    times.Appended(text, ms, pane.size());
  };
  append("ab\r", 100, 100);  // the line end split across two arrivals
  append("\ncd\r\nef", 200, 100);
  append("g\r\n\r\n", 300, 100);
  append("h", 400, 100);
  const std::vector<std::pair<std::size_t, std::int64_t>> rows = {
      {0, 100}, {3, 100}, {4, 200}, {8, 200}, {11, 200}, {13, 300}, {15, 400}};
  for (const auto& [at, ms] : rows) EXPECT_EQ(times.TimeAt(at, pane.size()), ms) << at;
  append(std::string(10, 'x'), 500, 12);  // the pane keeps its last 12: "\nhxxxxxxxxxx"
  EXPECT_EQ(times.TimeAt(0, pane.size()), 300);
  EXPECT_EQ(times.TimeAt(1, pane.size()), 400);
}

}  // namespace
}  // namespace velmora::testing
