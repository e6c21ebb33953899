// The speed limit of the simulated serial line.
#include "cardsim/line_pacer.h"

#include <gtest/gtest.h>

namespace velmora::cardsim {
namespace {

using std::chrono::milliseconds;

// Moves as many bytes as the pacer lets through in `duration`, asking every millisecond.
std::size_t BytesThrough(LinePacer& pacer, Time start, milliseconds duration) {
  std::size_t total = 0;
  for (Time now = start; now <= start + duration; now += milliseconds(1)) {
    const std::size_t n = pacer.Allowance(now);
    pacer.Spend(n);
    total += n;
  }
  return total;
}

TEST(LinePacer, At57600BaudAboutFiveThousandSevenHundredSixtyBytesGoThroughASecond) {
  LinePacer pacer = LinePacer::ForBaud(57600);
  EXPECT_DOUBLE_EQ(pacer.BytesPerSecond(), 5760.0);
  const std::size_t total = BytesThrough(pacer, Time{0}, milliseconds(1000));
  EXPECT_GE(total, 5700u);
  EXPECT_LE(total, 5790u);
}

TEST(LinePacer, IdleTimeIsNotSavedUpBeyondOneSmallBurst) {
  LinePacer pacer = LinePacer::ForBaud(57600);
  EXPECT_EQ(pacer.Allowance(Time{0} + std::chrono::seconds(60)), pacer.Burst());
  EXPECT_LE(pacer.Burst(), 64u);
  EXPECT_GE(pacer.Burst(), 1u);
}

TEST(LinePacer, AReaderLateOnABusyLineLosesNoLineTime) {
  LinePacer pacer = LinePacer::ForBaud(57600);
  std::size_t total = 0;
  // Woken every 6 ms instead of every 4: each time the whole allowance is taken and more waits.
  for (Time now{0}; now <= Time{0} + milliseconds(1000); now += milliseconds(6)) {
    const std::size_t n = pacer.Allowance(now);
    pacer.Spend(n);
    pacer.SetBacklogged(true);
    total += n;
  }
  EXPECT_GE(total, 5700u);
  EXPECT_LE(total, 5790u);
}

TEST(LinePacer, ReadyAtSaysWhenTheNextBurstMayGo) {
  LinePacer pacer = LinePacer::ForBaud(57600);
  const Time now = Time{0} + std::chrono::seconds(1);
  pacer.Spend(pacer.Allowance(now));
  const Time ready = pacer.ReadyAt(now, pacer.Burst());
  EXPECT_GT(ready, now);
  EXPECT_LT(pacer.Allowance(ready - std::chrono::microseconds(300)), pacer.Burst());
  EXPECT_GE(pacer.Allowance(ready), pacer.Burst());
}

TEST(LinePacer, NoLimitLetsEverythingThrough) {
  LinePacer pacer = LinePacer::ForBaud(0);
  EXPECT_FALSE(pacer.Limited());
  EXPECT_GT(pacer.Allowance(Time{0}), 1u << 30);
  EXPECT_EQ(pacer.ReadyAt(Time{5}, 1000), Time{5});
}

}  // namespace
}  // namespace velmora::cardsim
