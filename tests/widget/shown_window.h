// The real window on a console of fakes, loaded as at start-up and shown offscreen, with COM1
// free on /dev/pts/7 and COM3 held by another program.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <memory>

#include "app/lifecycle.h"
#include "platform/qt/window/gui_main.h"
#include "support/console_fixture.h"

namespace velmora::testing {

class ShownWindow : public ConsoleTest {
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

  std::unique_ptr<GuiMain> window;
};

}  // namespace velmora::testing
