// The real window on a console of fakes: one widget per control of the model, where the model
// puts it, and a person's actions reaching the handlers exactly once. What the console's own
// end-to-end tests do through the window is not repeated here.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <algorithm>

#include "app/lifecycle.h"
#include "platform/qt/gui_main.h"
#include "support/fakes.h"

namespace velmora::testing {
namespace {

QString Latin1(const std::string& s) {
  return QString::fromLatin1(s.c_str());
}

class Window : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.port.SetPort(1, FakeSerialPort::Availability::Free, "/dev/pts/7");
    fake.port.SetPort(3, FakeSerialPort::Availability::Busy);
    Form_Load(c);
    window = std::make_unique<GuiMain>(c);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  template <class W = QWidget>
  W* Find(const char* name) {
    auto* w = window->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // A person chooses COM1 and the card announces its program.
  void Connect(const std::string& banner) {
    emit Find<QComboBox>("CommPortSelect")->activated(1);
    fake.port.Feed(banner + "\r\n");
  }

  FakePlatform fake;
  Console c{fake.platform()};
  MainWindow& ui = c.ui;
  std::unique_ptr<GuiMain> window;
};

TEST_F(Window, EveryControlHasItsWidgetWhereTheModelPutsItAndFollowsTheModel) {
  EXPECT_EQ(window->objectName(), "GUI_Main");
  EXPECT_EQ(window->size(), QSize(window->PxX(7005), window->PxY(5355)));
  auto* tabs = Find<QTabWidget>("GUI_Tabs");
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
  }
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(tabs->tabText(i), Latin1(ui.GUI_Tabs.Captions()[static_cast<std::size_t>(i)]));
  // A long caption may be shown on two lines.
  EXPECT_EQ(Find<QPushButton>("DownloadButton")->text().replace('\n', ' '), "Program Download");
  auto* ports = Find<QComboBox>("CommPortSelect");
  ASSERT_EQ(ports->count(), 3);
  EXPECT_EQ(ports->itemText(1), "COM1");
  EXPECT_EQ(ports->itemData(1, Qt::ToolTipRole).toString(), "/dev/pts/7");
  EXPECT_EQ(ports->currentIndex(), -1);

  ui.DownloadStatus.SetGeometry({1680, 1920, 3375, 285});
  ui.DownloadStatus.SetVisible(true);
  ui.OpConfig.SetVisible(false);
  ui.SoftwareConfig.SetHeight(2575);
  auto* status = Find("DownloadStatus");
  EXPECT_EQ(status->mapTo(tabs, QPoint(0, 0)), QPoint(window->PxX(1680), window->PxY(1920)));
  EXPECT_TRUE(status->isVisible());
  EXPECT_FALSE(Find("OpConfig")->isVisible());
  EXPECT_EQ(Find("SoftwareConfig")->height(), window->PxY(2575));
  EXPECT_EQ(Find("ProgramText")->palette().color(QPalette::Base), QColor(255, 0, 0));
  tabs->setCurrentIndex(2);
  EXPECT_EQ(ui.GUI_Tabs.ShownCaption(), "Terminal");
}

TEST_F(Window, APersonsChoiceOfAPortReachesTheHandlerOnceAndAFailedOpeningSaysSo) {
  auto* ports = Find<QComboBox>("CommPortSelect");
  emit ports->activated(1);
  EXPECT_TRUE(fake.port.IsOpen());
  EXPECT_EQ(c.state.PortListIndex, 1);
  const int opens = fake.port.opens;
  emit ports->activated(1);  // the entry already chosen: nothing to do
  EXPECT_EQ(fake.port.opens, opens);
  emit ports->activated(2);
  EXPECT_EQ(fake.messages.shown.size(), 1u);
  EXPECT_EQ(ports->currentIndex(), 0);
  EXPECT_FALSE(fake.port.IsOpen());

  emit ports->activated(1);
  QTest::mouseClick(Find<QPushButton>("ExitButton"), Qt::LeftButton);
  EXPECT_TRUE(c.unloaded);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(fake.port.IsOpen());
  EXPECT_FALSE(fake.transmitTimer.Enabled());
}

TEST_F(Window, ThePaneShowsReceivedBytesReadablyOnceItsTabIsInFront) {
  Connect("CPE Application Initialized");
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

}  // namespace
}  // namespace velmora::testing
