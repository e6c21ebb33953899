// The speed limit of the simulated serial line.
#include "cardsim/line_pacer.h"

#include <gtest/gtest.h>

namespace velmora::cardsim {
namespace {

using std::chrono::milliseconds;

TEST(LinePacer, At57600BaudAboutFiveThousandSevenHundredSixtyBytesGoThroughASecond) {
  // A reader woken every millisecond, and one late on a busy line, woken every 6 ms instead of 4
  // and leaving more waiting each time: neither loses line time.
  for (const int step : {1, 6}) {
    LinePacer pacer = LinePacer::ForBaud(57600);
    std::size_t total = 0;
    for (Time now{0}; now <= Time{0} + milliseconds(1000); now += milliseconds(step)) {
      const std::size_t n = pacer.Allowance(now);
      pacer.Spend(n);
      pacer.SetBacklogged(step > 1);
      total += n;
    }
    EXPECT_GE(total, 5700u) << step;
    EXPECT_LE(total, 5790u) << step;
  }
}

TEST(LinePacer, IdleTimeIsNotSavedUpBeyondOneSmallBurst) {
  LinePacer pacer = LinePacer::ForBaud(57600);
  EXPECT_EQ(pacer.Allowance(Time{0} + std::chrono::seconds(60)), pacer.Burst());
  EXPECT_LE(pacer.Burst(), 64u);
}

}  // namespace
}  // namespace velmora::cardsim
