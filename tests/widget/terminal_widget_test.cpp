// The Terminal tab in the real window, and logging through the real file layer.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include "platform/qt/gui_main.h"
#include "platform/qt/qt_platform.h"
#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

class TerminalWidgetTest : public ConnectedConsoleTest {
 protected:
  void SetUp() override {
    ConnectedConsoleTest::SetUp();
    fake.port.Feed("CPE Application Initialized\r\n");
    ASSERT_EQ(s.ProgramType, ProgramType::CpeApp);
    window = std::make_unique<GuiMain>(c);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->findChild<QTabWidget*>("GUI_Tabs")->setCurrentIndex(2);
    edit = window->findChild<QLineEdit*>("CommandLineText");
    ASSERT_NE(edit, nullptr);
    const auto handler = ui.CommandLineButton.onClick;
    ui.CommandLineButton.onClick = [this, handler] {
      ++clicks;
      handler();
    };
  }
  void Type(const QString& text) {
    while (!edit->text().isEmpty()) QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
  }
  long Sent(const std::string& command) const {
    return std::count(fake.port.writes.begin(), fake.port.writes.end(), command + "\r\n");
  }

  std::unique_ptr<GuiMain> window;
  QLineEdit* edit = nullptr;
  int clicks = 0;
};

TEST_F(TerminalWidgetTest, ReturnInTheCommandLineQueuesTheTypedTextOnce) {
  Type("op_status");
  EXPECT_EQ(ui.CommandLineText.Text(), "op_status");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(s.CommandLinePending);
  fake.clock.Advance(100);
  EXPECT_EQ(Sent("op_status"), 1);
  EXPECT_EQ(edit->text(), "op_status");
}

TEST_F(TerminalWidgetTest, UpAndDownRecallSentCommandsInTheField) {
  for (const char* command : {"ree 0", "versions"}) {
    Type(command);
    QTest::keyClick(edit, Qt::Key_Return);
    fake.clock.Advance(100);
  }
  EXPECT_EQ(Sent("ree 0"), 1);
  EXPECT_EQ(Sent("versions"), 1);
  Type("dr");
  QStringList seen;
  for (Qt::Key key : {Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}) {
    QTest::keyClick(edit, key);
    seen << edit->text();
  }
  EXPECT_EQ(seen, (QStringList{"versions", "ree 0", "versions", "dr"}));
  EXPECT_EQ(ui.CommandLineText.Text(), "dr");
  EXPECT_EQ(clicks, 2);
}

TEST_F(TerminalWidgetTest, PaneShowsLineEndsAndVisibleControlBytesOverTheRawModel) {
  const std::string raw("ab\r\ncd\0ef\xff", 10);
  fake.port.Feed(raw);
  EXPECT_EQ(ui.TerminalText.Text(), "CPE Application Initialized\r\n" + raw);
  QTest::qWait(100);
  auto* pane = window->findChild<QPlainTextEdit*>("TerminalText");
  ASSERT_NE(pane, nullptr);
  EXPECT_EQ(pane->toPlainText(),
            QString("CPE Application Initialized\nab\ncd") + QChar(0x2400) + "ef" + QChar(0xFF));
}

TEST(TerminalDisplayTextTest, MapsLineEndsAndControlBytesToReadableText) {
  EXPECT_EQ(TerminalDisplayText("a\r\nb"), "a\nb");
  EXPECT_EQ(TerminalDisplayText(std::string(1, '\0')), QString(QChar(0x2400)));
  EXPECT_EQ(TerminalDisplayText("\xff"), QString(QChar(0xFF)));
  EXPECT_EQ(TerminalDisplayText("a\r\r\n"), QString("a") + QChar(0x240D) + "\n");
  EXPECT_EQ(TerminalDisplayText(""), "");
}

std::string ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return "<unreadable>";
  const QByteArray bytes = f.readAll();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

TEST(QtFilesTest, AppendWritesBehindTheBytesAFileHeld) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("card.txt");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("0123456789");
  }
  QtFiles files;
  const std::int16_t n = files.FreeFile();
  ASSERT_FALSE(files.OpenForAppend(n, path.toStdString()));
  EXPECT_FALSE(files.Write(n, std::string("a\0\xff\r\n", 5)));
  EXPECT_FALSE(files.Write(n, "b"));
  files.Close(n);
  EXPECT_EQ(files.OpenCount(), 0);
  EXPECT_EQ(ReadAll(path), std::string("0123456789a\0\xff\r\nb", 16));
}

TEST(QtFilesTest, WriteToAFullDeviceReportsTheSystemsDescription) {
  if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  QtFiles files;
  const std::int16_t n = files.FreeFile();
  ASSERT_FALSE(files.OpenForAppend(n, "/dev/full"));
  const FileError error = files.Write(n, "card output\r\n");
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, "No space left on device");
  files.CloseAll();
  EXPECT_EQ(files.OpenCount(), 0);
}

// The console on fakes except for the real file layer.
class RealFilesLoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.port.SetPort(1, FakeSerialPort::Availability::Free);
    Form_Load(c);
    c.ui.CommPortSelect.UserChoose(1);
    ASSERT_TRUE(fake.port.IsOpen());
  }
  void StartLogging(const std::string& path) {
    fake.chooser.answers.push_back(ChosenFile{path, "log"});
    c.ui.LoggingButton.UserClick();
    ASSERT_TRUE(c.state.LoggingActive);
  }

  FakePlatform fake;
  QtFiles files;
  Console c{Platform{fake.port, fake.transmitTimer, fake.downloadTimer, files, fake.chooser,
                     fake.messages, fake.pump}};
};

TEST_F(RealFilesLoggingTest, LogToAFullDeviceStopsLoggingAndSaysWhy) {
  if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  StartLogging("/dev/full");
  fake.port.writes.clear();
  fake.port.Feed("op_status: 02\r\n");
  EXPECT_FALSE(c.state.LoggingActive);
  EXPECT_EQ(files.OpenCount(), 0);
  EXPECT_EQ(c.ui.LoggingButton.Caption(), "Activate Logging");
  EXPECT_EQ(fake.port.writes, std::vector<std::string>{"debug 0\r\n"});
  c.RunDeferred();
  ASSERT_EQ(fake.messages.shown.size(), 1u);
  EXPECT_NE(fake.messages.shown[0].find("No space left on device"), std::string::npos);
}

TEST_F(RealFilesLoggingTest, LogOnDiskHoldsTheOldBytesThenExactlyWhatWasReceived) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("card.txt");
  const std::string old(100, 'o');
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(old.data(), static_cast<qint64>(old.size()));
  }
  StartLogging(path.toStdString());
  const std::string raw("x\r\n\0\xff\r", 6);
  fake.port.Feed(raw);
  c.ui.LoggingButton.UserClick();
  EXPECT_EQ(files.OpenCount(), 0);
  StartLogging(path.toStdString());
  fake.port.Feed("y\r\n");
  UnloadMainWindow(c);
  EXPECT_EQ(files.OpenCount(), 0);
  EXPECT_EQ(ReadAll(path), old + raw + "y\r\n");
}

}  // namespace
}  // namespace velmora::testing
