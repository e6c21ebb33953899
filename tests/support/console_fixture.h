// A console on fakes, loaded as at start-up.
#pragma once

#include <gtest/gtest.h>

#include "app/console.h"
#include "app/lifecycle.h"
#include "support/fakes.h"

namespace velmora::testing {

class ConsoleTest : public ::testing::Test {
 protected:
  FakePlatform fake;
  Console c{fake.platform()};
  ConsoleState& s = c.state;
  MainWindow& ui = c.ui;
};

// Loaded, with COM1 free and chosen.
class ConnectedConsoleTest : public ConsoleTest {
 protected:
  void SetUp() override {
    fake.port.SetPort(1, FakeSerialPort::Availability::Free);
    Form_Load(c);
    ui.CommPortSelect.UserChoose(1);
    ASSERT_TRUE(fake.port.IsOpen());
    fake.port.writes.clear();
  }
};

}  // namespace velmora::testing
