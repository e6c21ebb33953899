// The settings edits through the real widgets: typing, pasting, choosing and clicking reach the
// model once each, and the widgets show what the model kept.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "platform/qt/gui_main.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

// Counts a widget's switches between enabled and disabled.
class EnabledChanges : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange) ++count;
    return QObject::eventFilter(watched, event);
  }
};

class SettingsEditsWidgetTest : public ConsoleTest {
 protected:
  void SetUp() override {
    fake.port.SetPort(1, FakeSerialPort::Availability::Free);
    Form_Load(c);
    ui.CommPortSelect.UserChoose(1);
    fake.port.Feed("Line Card Application Initialized\r\n");
    ASSERT_EQ(s.ProgramType, ProgramType::LineCardApp);
    window = std::make_unique<GuiMain>(c);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    sfd = window->findChild<QLineEdit*>("SfdText");
    ASSERT_NE(sfd, nullptr);
    ASSERT_TRUE(sfd->isVisible());
    sfd->setFocus();
  }
  std::vector<std::string> Wees() const {
    std::vector<std::string> wees;
    for (const auto& w : fake.port.writes)
      if (w.rfind("wee ", 0) == 0) wees.push_back(w);
    return wees;
  }

  std::unique_ptr<GuiMain> window;
  QLineEdit* sfd = nullptr;
};

TEST_F(SettingsEditsWidgetTest, TypedLettersAndEnterAreDroppedAndDigitsEnableUpdate) {
  auto* button = window->findChild<QPushButton*>("SfdButton");
  ASSERT_NE(button, nullptr);
  EXPECT_FALSE(button->isEnabled());
  EnabledChanges changes;
  button->installEventFilter(&changes);

  QTest::keyClicks(sfd, "1a2");
  QTest::keyClick(sfd, Qt::Key_Return);
  EXPECT_EQ(ui.SfdText.Text(), "12");
  EXPECT_EQ(sfd->text(), "12");
  EXPECT_TRUE(ui.SfdButton.Enabled());
  EXPECT_TRUE(button->isEnabled());
  EXPECT_EQ(changes.count, 1);
  button->removeEventFilter(&changes);

  QTest::keyClick(sfd, Qt::Key_Backspace);
  QTest::keyClick(sfd, Qt::Key_Backspace);
  EXPECT_EQ(ui.SfdText.Text(), "");
  EXPECT_EQ(sfd->text(), "");
  EXPECT_FALSE(button->isEnabled());
}

TEST_F(SettingsEditsWidgetTest, CtrlVPastesOnlyTheDigitsOfAWord) {
  QGuiApplication::clipboard()->setText("4x5 abc");
  QTest::keySequence(sfd, QKeySequence::Paste);
  EXPECT_EQ(ui.SfdText.Text(), "45");
  EXPECT_EQ(sfd->text(), "45");
  EXPECT_TRUE(ui.SfdButton.Enabled());
}

TEST_F(SettingsEditsWidgetTest, MenuPasteKeepsOnlyTheDigitsInModelAndWidget) {
  // What the field's own context menu does.
  QGuiApplication::clipboard()->setText("4x5 abc");
  sfd->paste();
  EXPECT_EQ(ui.SfdText.Text(), "45");
  EXPECT_EQ(sfd->text(), "45");
  EXPECT_TRUE(ui.SfdButton.Enabled());

  // A word pasted over everything leaves nothing to write.
  QGuiApplication::clipboard()->setText("abc");
  sfd->selectAll();
  sfd->paste();
  EXPECT_EQ(ui.SfdText.Text(), "");
  EXPECT_EQ(sfd->text(), "");
  EXPECT_FALSE(ui.SfdButton.Enabled());
}

TEST_F(SettingsEditsWidgetTest, ListChoiceEnablesItsUpdateButton) {
  auto* list = window->findChild<QComboBox*>("GenericSelect");
  auto* button = window->findChild<QPushButton*>("GenericButton");
  ASSERT_NE(list, nullptr);
  ASSERT_NE(button, nullptr);
  ASSERT_FALSE(button->isEnabled());
  emit list->activated(3);
  EXPECT_EQ(ui.GenericSelect.ListIndex(), 3);
  EXPECT_TRUE(ui.GenericButton.Enabled());
  EXPECT_TRUE(button->isEnabled());
}

TEST_F(SettingsEditsWidgetTest, ClickOnUpdateQueuesOneWrite) {
  QTest::keyClicks(sfd, "30");
  auto* button = window->findChild<QPushButton*>("SfdButton");
  ASSERT_NE(button, nullptr);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_TRUE(s.SfdWritePending);
  EXPECT_EQ(s.SfdWriteValue, 30);
  fake.port.writes.clear();
  fake.clock.Advance(100);
  EXPECT_EQ(Wees(), std::vector<std::string>{"wee 0 1E\r\n"});
  fake.clock.Advance(100);
  EXPECT_EQ(Wees(), std::vector<std::string>{"wee 0 1E\r\n"});
}

}  // namespace
}  // namespace velmora::testing
