// Faults that fuzzing found (fuzz/fuzz_console), each reduced to the few steps that show it.
#include <gtest/gtest.h>

#include <string>

#include "support/console_fixture.h"

namespace velmora::testing {
namespace {

class FuzzRegressionsTest : public ConnectedConsoleTest {
 protected:
  void Receive(const std::string& line) { fake.port.Feed(line + "\r\n"); }
  std::vector<std::string> TickWrites() {
    fake.port.writes.clear();
    fake.clock.Advance(100);
    return fake.port.writes;
  }
};

// Reduced input: the CPE banner; SfdText edited to hold a long run of digits (a paste); a click
// on "Update SFD". The text reads as a number beyond the range of a double, and the click must
// neither bring the console down nor queue a write of any value but the largest, FF.
TEST_F(FuzzRegressionsTest, SfdUpdateWithMoreDigitsThanADoubleHoldsKeepsTheConsoleRunning) {
  Receive("CPE Application Initialized");
  ASSERT_EQ(s.ProgramType, ProgramType::CpeApp);
  ui.SfdText.UserPaste(std::string(400, '9'));
  ASSERT_EQ(ui.SfdText.Text(), std::string(400, '9'));
  ASSERT_TRUE(ui.SfdButton.Enabled());

  EXPECT_NO_THROW(ui.SfdButton.UserClick());
  for (const std::string& write : TickWrites()) {
    if (write.rfind("wee 0 ", 0) == 0) {
      EXPECT_EQ(write, "wee 0 FF\r\n");
    }
  }

  // The console goes on as before: the read-back of address 0 still shows.
  Receive("0000: 1E");
  EXPECT_EQ(ui.SfdText.Text(), "30");
  EXPECT_FALSE(ui.SfdButton.Enabled());
}

}  // namespace
}  // namespace velmora::testing
