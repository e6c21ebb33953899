// The "Trends" page draws what was recorded: one line per CPE, events on the time axis.
#include <gtest/gtest.h>

#include <QTabWidget>
#include <QtCharts/QChart>
#include <QtCharts/QXYSeries>

#include "app/lifecycle.h"
#include "platform/qt/gui_main.h"
#include "platform/qt/trends_view.h"
#include "support/console_fixture.h"
#include "support/trends_fakes.h"

namespace velmora::testing {
namespace {

class TrendsWidgetTest : public ConnectedConsoleTest {
 protected:
  ManualClock clock;
  void SetUp() override {
    c.trends.SetClock(clock);
    ConnectedConsoleTest::SetUp();
  }
  void Receive(const std::string& line) {
    fake.port.Feed(line + "\r\n");
    clock.Advance(2'000);
  }
  // Points of each named series, "-" for a series the chart does not hold.
  std::string Counts(TrendsView& view, std::initializer_list<const char*> names) {
    std::string counts;
    for (const char* name : names) {
      std::string n = "-";
      for (QAbstractSeries* s : view.Chart()->series())
        if (s->name() == name) n = std::to_string(static_cast<QXYSeries*>(s)->count());
      counts += std::string(name) + "=" + n + " ";
    }
    return counts;
  }
};

TEST_F(TrendsWidgetTest, ChartsDrawTheRecordedSeriesWithinTheChosenRange) {
  Receive("Line Card Application Initialized");
  Receive("op_status: 02020000");
  for (int i = 0; i < 3; ++i) Receive("FF28: 1A 0C 00 00");
  Receive("Subscriber 01 Communications Lost");
  Receive("Subscriber 00 SFD Loss Count: 0003");
  Receive("temperature: 0019");
  Receive("temperature: 001A");

  TrendsView view(c);
  view.ShowRange(TrendsView::k5Min);
  const auto all = {"CPE 0", "CPE 1", "CPE 2", "State", "Link lost", "Program"};
  EXPECT_EQ(Counts(view, all), "CPE 0=3 CPE 1=4 CPE 2=- State=5 Link lost=1 Program=1 ");
  view.ShowChart(TrendsView::kSfdLoss);
  EXPECT_EQ(Counts(view, {"CPE 0", "CPE 1"}), "CPE 0=2 CPE 1=- ");
  view.ShowChart(TrendsView::kTemperature);
  EXPECT_EQ(Counts(view, {"Temperature"}), "Temperature=2 ");

  clock.Advance(10 * 60'000);
  view.ShowChart(TrendsView::kSignal);
  EXPECT_EQ(Counts(view, {"CPE 0", "State"}), "CPE 0=- State=0 ");
  view.ShowRange(TrendsView::kAll);
  EXPECT_EQ(Counts(view, {"CPE 0", "State"}), "CPE 0=3 State=5 ");
}

TEST_F(TrendsWidgetTest, TrendsIsTheFourthTabAndPollingGoesOnBehindIt) {
  GuiMain window(c);
  auto* tabs = window.findChild<QTabWidget*>("GUI_Tabs");
  ASSERT_EQ(tabs->count(), 4);
  EXPECT_EQ(tabs->tabText(3), "Trends");
  EXPECT_NE(tabs->widget(3)->findChild<TrendsView*>(), nullptr);
  Receive("CPE Application Initialized");
  tabs->setCurrentIndex(3);
  fake.port.writes.clear();
  fake.clock.Advance(3'000);
  const std::string sent = [&] {
    std::string all;
    for (const auto& w : fake.port.writes) all += w;
    return all;
  }();
  EXPECT_NE(sent.find("rdm ff28 4\r\n"), std::string::npos) << sent;
  EXPECT_EQ(sent.find("debug 0"), std::string::npos) << sent;
}

}  // namespace
}  // namespace velmora::testing
