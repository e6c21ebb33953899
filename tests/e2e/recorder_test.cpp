// The flight recorder end to end: a session with the simulated card is recorded, saved, and
// replayed into a second console, which must show what the first one showed.
#include <cstdlib>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

using Recorder = CardAndConsole;

// The trends CSV's rows without their times and without the download's marks: the replaying
// console does not download, it only sees the card do what it did then.
std::string MeasuredRows(const std::string& csv) {
  std::istringstream in(csv);
  std::string out;
  for (std::string row; std::getline(in, row);) {
    const std::string rest = row.substr(row.find(',') + 1);
    if (rest.find(",download,") == std::string::npos) out += rest + "\n";
  }
  return out;
}

// Microseconds from the first record of a recording to its last.
long long SessionUs(const std::string& recording) {
  const auto time = [&](std::size_t line) {
    return std::atoll(recording.c_str() + recording.find("{\"t\":", line) + 5);
  };
  return time(recording.rfind('\n', recording.size() - 2) + 1) - time(recording.find('\n') + 1);
}

std::string Shown(drive::Console& console) {
  std::string shown = console.Get("ProgramText");
  for (const char* field : {"OpStateText", "RssiText", "SfdLossText", "TemperatureText",
                            "BattVoltText", "Line1Hook", "Line2Ring"})
    shown += std::string("|") + console.Get(field) + " " + console.Get(field, "color");
  return shown;
}

std::string Export(drive::Console& console, const std::string& file) {
  console.Do("tab 3");
  console.Do("answer-file " + file);
  console.Do("click ExportCsvButton");
  WaitUntil([&] { return std::filesystem::exists(file); }, 5s);
  console.Do("tab 1");
  return MeasuredRows(Slurp(file));
}

TEST_F(Recorder, ASessionSavedAndReplayedAtFourTimesShowsWhatTheEngineerSawThen) {
  ASSERT_NO_FATAL_FAILURE(Connect({"--start", "linecard"}, "LINE CARD APP"));
  console->Do("tab 1");  // a poll round on the Status tab
  ASSERT_TRUE(CardTook({"op_status"}, 10s));
  console->Do("tab 0");
  for (int i = 0; i < 4; ++i) console->Do("key SfdText Backspace");
  console->Do("type SfdText 42");
  console->Do("click SfdButton");
  ASSERT_TRUE(CardTook({"wee 0 2A"}, 3s)) << console->Get("SfdText");
  console->Do("answer-file " + MakeProgram(ws, 3000));
  console->Do("click DownloadButton");
  ASSERT_TRUE(console->WaitFor("DownloadButton", "text", "Program Download", 60s));
  ASSERT_TRUE(console->WaitFor("ProgramText", "text", "LINE CARD APP", 15s));
  console->Do("tab 1");
  mark = card->Trace().size();
  ASSERT_TRUE(CardTook({"op_status", "temperature"}, 15s));
  const std::string shown = Shown(*console);
  const std::string rows = Export(*console, ws.Path("then.csv"));
  ASSERT_NE(rows.find(",temperature,"), std::string::npos) << rows;
  const std::string saved = ws.Path("saved.jsonl");
  console->Do("answer-file-type 2 " + saved);  // everything recorded
  console->Do("tab 2");
  console->Do("click SaveRecordingButton");
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(saved); }, 5s));
  console.reset();

  ::setenv("VELMORA_RECORDING_DIR", ws.Path("replay-recording").c_str(), 1);
  drive::Console replay(VELMORA_CONSOLE_BIN, "COM1=replay://" + saved + "?speed=4");
  replay.Do("tab 1");  // as the engineer had it; the Terminal tab would send its own command
  replay.Do("choose CommPortSelect 1");
  // The replay lasts a quarter of the session; the Terminal pane reports its end (shown only
  // then: the tab makes the console send a command of its own).
  std::this_thread::sleep_for(std::chrono::microseconds(SessionUs(Slurp(saved)) / 4) + 3s);
  replay.Do("tab 2");
  std::string pane;
  ASSERT_TRUE(WaitUntil(
      [&] {
        return (pane = replay.Get("TerminalText")).find("commands matched") != std::string::npos;
      },
      10s));
  EXPECT_NE(pane.find(", all commands matched."), std::string::npos)
      << pane.substr(pane.rfind("Replay"));
  EXPECT_EQ(Shown(replay), shown);
  EXPECT_EQ(Export(replay, ws.Path("now.csv")), rows);
}

}  // namespace
}  // namespace velmora::e2e
