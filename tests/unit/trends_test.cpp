// What the card reported over time: recorded from the parsers' output, bounded, exported.
#include "trends/trends.h"

#include <gtest/gtest.h>

#include "support/console_fixture.h"
#include "trends/recording.h"

namespace velmora::testing {
namespace {

// The export's rows without their time.
std::vector<std::string> Rows(const Trends& trends) {
  std::vector<std::string> rows;
  const std::string csv = TrendsCsv(trends);
  for (std::size_t at = csv.find('\n') + 1, end; at < csv.size(); at = end + 1) {
    end = csv.find("\r\n", at) + 1;
    rows.push_back(csv.substr(csv.find(',', at) + 1, end - 1 - csv.find(',', at) - 1));
  }
  return rows;
}

constexpr const char* kLineCard = "Line Card Application Initialized\nop_status: 02010002";
constexpr const char* kCpe = "CPE Application Initialized";

TEST(Trends, RecordsWhatTheParsersStorePerCpeAndProgram) {
  struct Row {
    const char* banner;
    const char* line;
    std::vector<std::string> recorded;
  };
  const std::vector<Row> rows = {
      {"", "Line Card Application Initialized", {"LINE CARD APP,,program,LINE CARD APP"}},
      {"", "FF28: 1A 00 00 00", {}},  // no program recognised yet
      {kCpe, "op_status: 02", {"CPE APP,,operational state,Locked"}},
      {kCpe, "FF28: 1A 0C 00 FF", {"CPE APP,,signal strength,26"}},
      {kCpe, "SFD Loss Count: FFFF", {"CPE APP,,SFD losses,-1"}},
      {kCpe, "temperature: FFF6", {"CPE APP,,temperature,-10"}},
      {kCpe, "hook_state: 0100", {"CPE APP,,line 1 hook,ON HOOK", "CPE APP,,line 2 hook,OFF HOOK"}},
      {kCpe, "Communications Lost", {}},
      {kLineCard,
       "op_status: 02010002",
       {"LINE CARD APP,0,operational state,Locked", "LINE CARD APP,1,operational state,Ranging",
        "LINE CARD APP,2,operational state,Acquisition",
        "LINE CARD APP,3,operational state,Locked"}},
      // States as the row before: a CPE still acquiring keeps its value.
      {kLineCard,
       "FF28: 1A 0C 00 FF",
       {"LINE CARD APP,0,signal strength,26", "LINE CARD APP,1,signal strength,12",
        "LINE CARD APP,3,signal strength,255"}},
      {kLineCard, "Subscriber 01 SFD Loss Count: 0010", {"LINE CARD APP,1,SFD losses,16"}},
      {kLineCard, "Subscriber 02 Channel 01 RING ON", {"LINE CARD APP,2,line 2 ring,RING ON"}},
      {kLineCard,
       "Subscriber 03 Communications Lost",
       {"LINE CARD APP,3,link,Communications Lost", "LINE CARD APP,3,operational state,Acquisition",
        "LINE CARD APP,3,signal strength,0", "LINE CARD APP,3,line 1 hook,ON HOOK",
        "LINE CARD APP,3,line 1 ring,RING OFF", "LINE CARD APP,3,line 2 hook,ON HOOK",
        "LINE CARD APP,3,line 2 ring,RING OFF"}},
      // Rejected replies record nothing, not even what was stored before the error.
      {kLineCard, "Subscriber 04 Ranging Completed Successfully", {}},
      {kLineCard, "Subscriber 02 Channel 02 RING ON", {}},
      {kLineCard, "op_status: 0202-1", {}},
  };
  for (const Row& row : rows) {
    ConsoleOnFakes card;
    card.Connect();
    card.Script(row.banner);
    const std::size_t before = Rows(card.c.trends).size();
    card.Receive(row.line);
    const std::vector<std::string> all = Rows(card.c.trends);
    EXPECT_EQ(std::vector<std::string>(all.begin() + std::ptrdiff_t(before), all.end()),
              row.recorded)
        << row.line;
  }
}

TEST(Trends, EachSeriesKeepsItsNewestSamplesWithinItsBound) {
  Trends trends(3);
  for (int v = 1; v <= 5; ++v) trends.Mark(2, Quantity::Temperature, v);
  const TrendSeries& s = trends.Series(kNoCpe, Quantity::Temperature);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].value, 3);
  EXPECT_EQ(s.back().value, 5);
  EXPECT_EQ(trends.Bytes(), 3 * sizeof(Sample));
}

TEST_F(ConnectedConsoleTest, TrendsExportWritesTheSamplesAsCsv) {
  Receive(kCpe);
  clock.Advance(1'234);
  Receive("temperature: 0019");
  clock.wall -= 3'600'000;  // the wall clock is set back an hour: the rows say so
  Receive("FF28: 07");
  fake.files.disk["/p.hex"].bytes = ":0100000000FF\r\n:00000001FF\r\n";
  fake.chooser.answers = {ChosenFile{"/p.hex", "p.hex"}, ChosenFile{"/tmp/t.csv", "t.csv"}};
  ui.DownloadButton.UserClick();
  fake.port.Lose();  // ends the download
  c.RunDeferred();
  fake.files.disk["/tmp/t.csv"].bytes = "old";
  ExportCsv_Click(c);
  EXPECT_TRUE(fake.chooser.requests.back().saving);  // a replaced file was confirmed first
  EXPECT_EQ(fake.files.disk["/tmp/t.csv"].bytes,
            "time,program,cpe,quantity,value\r\n"
            "2026-12-07T00:00:00.000Z,CPE APP,,program,CPE APP\r\n"
            "2026-12-07T00:00:01.234Z,CPE APP,,temperature,25\r\n"
            "2026-12-06T23:00:01.234Z,CPE APP,,signal strength,7\r\n"
            "2026-12-06T23:00:01.234Z,BOOT LOADER,,download,start\r\n"
            "2026-12-06T23:00:01.234Z,BOOT LOADER,,port,lost\r\n"
            "2026-12-06T23:00:01.234Z,UNKNOWN,,download,end\r\n");
  EXPECT_EQ(fake.messages.shown.size(), 1u);  // the lost port's own box
}

}  // namespace
}  // namespace velmora::testing
