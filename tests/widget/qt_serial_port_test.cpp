// The Qt serial port over a real pseudo-terminal: opening by COM number, received bytes and the
// send threshold (a line that goes away is pulled under the real console, end to end).
#include "platform/qt/io/qt_serial_port.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTest>

namespace velmora {
namespace {

class QtSerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(::symlink(::ttyname(slave), link.c_str()), 0);
    ::close(slave);  // the port opens it again by its link
    port.onComm = [this] {
      if (port.Event() == CommEvent::Receive) received += port.Input();
      if (port.Event() == CommEvent::Send) ++sendEvents;
    };
    port.SetCommPort(1);
    ASSERT_FALSE(port.Open()) << port.Open().description;
  }
  void TearDown() override {
    if (master >= 0) ::close(master);
  }

  QTemporaryDir dir;
  int master = -1;
  std::string link = dir.filePath("card").toStdString();
  QtSerialPort port{PortTable{{1, link}, {2, "/nonexistent/tty"}}};
  std::string received;
  int sendEvents = 0;
};

// What the console sends arrives whole at the simulated card in every end-to-end test; what
// comes back here holds the bytes a card's text never does.
TEST_F(QtSerialPortTest, OpensByNumberThroughALinkReceivesAnyBytesAndRefusesOthers) {
  EXPECT_TRUE(port.IsOpen());
  const std::string reply("Maximum CPU% 3\r\n\x00\xFF", 18);
  ASSERT_EQ(::write(master, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() >= reply.size(); }, 2000));
  EXPECT_EQ(received, reply);

  QtSerialPort other(PortTable{{1, link}, {2, "/nonexistent/tty"}});
  for (const auto& [number, error] : std::vector<std::pair<int, int>>{
           {1, kCommErrorPortBusy}, {2, kCommErrorNoSuchPort}, {3, kCommErrorNoSuchPort}}) {
    other.SetCommPort(number);
    const OpenFailure failure = other.Open();
    EXPECT_EQ(failure.number, error) << "COM" << number << ": " << failure.description;
    EXPECT_FALSE(failure.description.empty());
  }
}

TEST_F(QtSerialPortTest, OneSendEventEachTimeFewerCharactersWaitThanTheThreshold) {
  qint64 waiting = 1500;
  port.waiting = [&] { return waiting; };
  port.SetSThreshold(500);
  port.Output(std::string(1000, 'x'));
  QTest::qWait(50);
  EXPECT_EQ(sendEvents, 0);
  waiting = 499;
  EXPECT_TRUE(QTest::qWaitFor([&] { return sendEvents == 1; }, 1000));
  port.SetSThreshold(0);  // none from now on
  port.Output("y");
  QTest::qWait(50);
  EXPECT_EQ(sendEvents, 1);  // one event per drain, not one per check
}

}  // namespace
}  // namespace velmora
