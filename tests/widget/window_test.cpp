// The real window on a console of fakes: one widget per control of the model, where the model
// puts it, a person's actions reaching the handlers exactly once, and the charts of the Trends
// page. What the console's own end-to-end tests do through the window is not repeated here.
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtCharts/QChart>
#include <QtCharts/QXYSeries>

#include "platform/qt/window/ports_button.h"
#include "platform/qt/window/trends_view.h"
#include "widget/shown_window.h"

namespace velmora::testing {
namespace {

QString Latin1(const std::string& s) {
  return QString::fromLatin1(s.c_str());
}

using Window = ShownWindow;

TEST_F(Window, EveryControlHasItsWidgetWhereTheModelPutsItAndFollowsTheModel) {
  EXPECT_EQ(window->size(), QSize(window->PxX(7005), window->PxY(5355)));
  auto* tabs = Find<QTabWidget>("GUI_Tabs");
  // The Ports button, not a control of the model, sits beside the port list and covers nothing.
  PortSetup setup;
  AddPortsButton(*window, c, setup, "/nonexistent/velmora.conf");
  auto* portsButton = Find<QPushButton>("PortsButton");
  EXPECT_LE(portsButton->fontMetrics().horizontalAdvance("Ports...") + 8, portsButton->width());
  for (Control* control : ui.Controls()) {
    auto* w = window->findChild<QWidget*>(Latin1(control->Name()));
    ASSERT_NE(w, nullptr) << control->Name();
    EXPECT_EQ(w, window->WidgetFor(*control));
    const Twips& t = control->Geometry();
    // Members of a tab count from the tab control's corner, others from their container.
    const bool onTab = control->Container().rfind("GUI_Tabs:", 0) == 0;
    EXPECT_EQ(onTab ? w->mapTo(tabs, QPoint(0, 0)) : w->pos(),
              QPoint(window->PxX(t.left), window->PxY(t.top)))
        << control->Name();
    EXPECT_EQ(w->size(), QSize(window->PxX(t.width), window->PxY(t.height))) << control->Name();
    EXPECT_EQ(w->toolTip(), Latin1(control->ToolTip())) << control->Name();
    EXPECT_FALSE(control->Container().empty() && w->geometry().intersects(portsButton->geometry()))
        << control->Name();
  }
  ASSERT_EQ(static_cast<std::size_t>(tabs->count()), ui.GUI_Tabs.Captions().size());
  for (int i = 0; i < tabs->count(); ++i)
    EXPECT_EQ(tabs->tabText(i), Latin1(ui.GUI_Tabs.Captions()[static_cast<std::size_t>(i)]));
  EXPECT_NE(tabs->widget(3)->findChild<TrendsView*>(), nullptr);
  auto* ports = Find<QComboBox>("CommPortSelect");
  ASSERT_EQ(ports->count(), 3);
  EXPECT_EQ(ports->itemText(1), "COM1");
  EXPECT_EQ(ports->itemData(1, Qt::ToolTipRole).toString(), "/dev/pts/7");
  EXPECT_EQ(ports->currentIndex(), -1);

  // Moved and resized as a download does it (shown, hidden and coloured: end to end).
  ui.DownloadStatus.SetGeometry({1680, 1920, 3375, 285});
  ui.SoftwareConfig.SetHeight(2575);
  EXPECT_EQ(Find("DownloadStatus")->mapTo(tabs, QPoint(0, 0)),
            QPoint(window->PxX(1680), window->PxY(1920)));
  EXPECT_EQ(Find("SoftwareConfig")->height(), window->PxY(2575));
  tabs->setCurrentIndex(2);
  EXPECT_EQ(ui.GUI_Tabs.ShownCaption(), "Terminal");
}

TEST_F(Window, APersonsChoiceOfAPortAndTheExitButtonReachTheHandlersOnce) {
  auto* ports = Find<QComboBox>("CommPortSelect");
  emit ports->activated(1);
  EXPECT_TRUE(fake.port.IsOpen());
  EXPECT_EQ(c.state.PortListIndex, 1);
  const int opens = fake.port.opens;
  emit ports->activated(1);  // the entry already chosen: nothing to do
  EXPECT_EQ(fake.port.opens, opens);
  QTest::mouseClick(Find<QPushButton>("ExitButton"), Qt::LeftButton);
  EXPECT_TRUE(c.unloaded);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(fake.port.IsOpen());
  EXPECT_FALSE(fake.transmitTimer.Enabled());
}

TEST_F(Window, ThePaneShowsReceivedBytesReadablyOnceItsTabIsInFront) {
  emit Find<QComboBox>("CommPortSelect")->activated(1);
  Receive("CPE Application Initialized");
  auto* pane = Find<QPlainTextEdit>("TerminalText");
  fake.port.Feed(std::string("ab\r\ncd\0e\r\r\nf\xff", 13));
  QTest::qWait(80);
  EXPECT_EQ(pane->toPlainText(), "");  // not drawn while nobody sees it
  Find<QTabWidget>("GUI_Tabs")->setCurrentIndex(2);
  const QString shown = QString("CPE Application Initialized\nab\ncd") + QChar(0x2400) + "e" +
                        QChar(0x240D) + "\nf" + QChar(0xFF);
  EXPECT_TRUE(QTest::qWaitFor([&] { return pane->toPlainText() == shown; }, 1000))
      << pane->toPlainText().toStdString();
}

// The "Trends" page draws what was recorded: one line per CPE, events on the time axis.
// Connected to COM1, on a clock of its own that moves 2 s with each line received.
class TrendsWidgetTest : public ShownWindow {
 protected:
  void SetUp() override {
    ShownWindow::SetUp();
    ui.CommPortSelect.UserChoose(1);
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
      for (QAbstractSeries* series : view.Chart()->series())
        if (series->name() == name) n = std::to_string(static_cast<QXYSeries*>(series)->count());
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

}  // namespace
}  // namespace velmora::testing
