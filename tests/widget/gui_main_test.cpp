// The real window: one widget per control of the model, where the model puts it, and a person's
// actions reaching the handlers exactly once.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <cmath>

#include "platform/qt/gui_main.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

QString Latin1(const std::string& s) { return QString::fromLatin1(s.c_str()); }

class GuiMainTest : public ConsoleTest {
 protected:
  void SetUp() override {
    fake.port.SetPort(1, FakeSerialPort::Availability::Free, "/dev/pts/7");
    fake.port.SetPort(3, FakeSerialPort::Availability::Busy);
    Form_Load(c);
    window = std::make_unique<GuiMain>(c);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  template <class W>
  W* Widget(const Control& control) {
    return window->findChild<W*>(Latin1(control.Name()));
  }
  QRect Px(const Twips& t) const {
    return {window->PxX(t.left), window->PxY(t.top), window->PxX(t.width), window->PxY(t.height)};
  }

  std::unique_ptr<GuiMain> window;
};

TEST_F(GuiMainTest, EveryControlHasItsWidgetWhereTheModelPutsIt) {
  EXPECT_EQ(window->objectName(), "GUI_Main");
  EXPECT_EQ(window->windowTitle(), "Velmora 1.09");
  EXPECT_EQ(window->size(), QSize(window->PxX(7005), window->PxY(5355)));
  auto* tabs = Widget<QTabWidget>(ui.GUI_Tabs);
  ASSERT_NE(tabs, nullptr);
  for (Control* control : ui.Controls()) {
    auto* w = Widget<QWidget>(*control);
    ASSERT_NE(w, nullptr) << control->Name();
    EXPECT_EQ(w, window->WidgetFor(*control));
    const QRect expected = Px(control->Geometry());
    // Members of a tab count from the tab control's corner, others from their container.
    const bool onTab = control->Container().rfind("GUI_Tabs:", 0) == 0;
    const QPoint pos = onTab ? w->mapTo(tabs, QPoint(0, 0)) : w->pos();
    EXPECT_EQ(pos, expected.topLeft()) << control->Name();
    EXPECT_EQ(w->size(), expected.size()) << control->Name();
    EXPECT_EQ(w->toolTip(), Latin1(control->ToolTip())) << control->Name();
  }
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(tabs->tabText(i), Latin1(ui.GUI_Tabs.Captions()[static_cast<std::size_t>(i)]));
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(Widget<QLabel>(ui.CommPortLabel)->text(), "Comm Port Selection:");
  // A long caption may be shown on two lines.
  EXPECT_EQ(Widget<QPushButton>(ui.DownloadButton)->text().replace('\n', ' '), "Program Download");
  EXPECT_EQ(Widget<QGroupBox>(ui.LocalStatus)->title(), "Power and Temperature Status");
  EXPECT_EQ(Widget<QLineEdit>(ui.ProgramText)->text(), "UNKNOWN");
  auto* ports = Widget<QComboBox>(ui.CommPortSelect);
  ASSERT_EQ(ports->count(), 3);
  EXPECT_EQ(ports->itemText(1), "COM1");
  EXPECT_EQ(ports->itemData(1, Qt::ToolTipRole).toString(), "/dev/pts/7");
  EXPECT_EQ(ports->itemText(2), "COM3");
  EXPECT_EQ(ports->currentIndex(), -1);
}

TEST_F(GuiMainTest, WindowFollowsTheModelAndMovesDownloadElements) {
  ui.DownloadStatus.SetGeometry({1680, 1920, 3375, 285});
  ui.DownloadStatus.SetVisible(true);
  ui.OpConfig.SetVisible(false);
  ui.SoftwareConfig.SetHeight(2575);
  auto* tabs = Widget<QTabWidget>(ui.GUI_Tabs);
  auto* status = Widget<QLineEdit>(ui.DownloadStatus);
  EXPECT_EQ(status->mapTo(tabs, QPoint(0, 0)), QPoint(window->PxX(1680), window->PxY(1920)));
  EXPECT_TRUE(status->isVisible());
  EXPECT_FALSE(Widget<QWidget>(ui.OpConfig)->isVisible());
  EXPECT_EQ(Widget<QWidget>(ui.SoftwareConfig)->height(), window->PxY(2575));
  EXPECT_EQ(Widget<QLineEdit>(ui.ProgramText)->palette().color(QPalette::Base),
            QColor(255, 0, 0));
}

TEST_F(GuiMainTest, APersonsChoiceOfAPortReachesTheHandlerOnce) {
  auto* ports = Widget<QComboBox>(ui.CommPortSelect);
  ports->setFocus();
  emit ports->activated(1);
  EXPECT_TRUE(fake.port.IsOpen());
  EXPECT_EQ(s.PortListIndex, 1);
  const int opens = fake.port.opens;
  // The entry already chosen, chosen again: a click that finds nothing to do.
  emit ports->activated(1);
  EXPECT_EQ(fake.port.opens, opens);

  // A failed opening shows one box and puts the list back on DISCONNECT, in the widget too.
  emit ports->activated(2);
  EXPECT_EQ(fake.messages.shown.size(), 1u);
  EXPECT_EQ(ports->currentIndex(), 0);
  EXPECT_FALSE(fake.port.IsOpen());
}

TEST_F(GuiMainTest, TabSwitchByAPersonUpdatesTheShownCaption) {
  auto* tabs = Widget<QTabWidget>(ui.GUI_Tabs);
  tabs->setCurrentIndex(2);
  EXPECT_EQ(ui.GUI_Tabs.ShownCaption(), "Terminal");
}

TEST_F(GuiMainTest, TextReceivedWhileThePaneIsHiddenShowsWhenItsTabComesToTheFront) {
  auto* pane = window->findChild<QPlainTextEdit*>("TerminalText");
  ui.TerminalText.SetText("op_status: 02\r\n");
  QTest::qWait(80);
  EXPECT_EQ(pane->toPlainText(), "");  // not drawn while nobody sees it
  Widget<QTabWidget>(ui.GUI_Tabs)->setCurrentIndex(2);
  EXPECT_TRUE(QTest::qWaitFor([&] { return pane->toPlainText() == "op_status: 02\n"; }, 1000));
}

TEST_F(GuiMainTest, ExitButtonUnloadsOnceAndClosesTheWindow) {
  fake.port.SetPort(1, FakeSerialPort::Availability::Free);
  ui.CommPortSelect.UserChoose(1);
  QTest::mouseClick(Widget<QPushButton>(ui.ExitButton), Qt::LeftButton);
  EXPECT_TRUE(c.unloaded);
  EXPECT_FALSE(window->isVisible());
  EXPECT_FALSE(fake.port.IsOpen());
  EXPECT_FALSE(fake.transmitTimer.Enabled());
}

}  // namespace
}  // namespace velmora::testing
