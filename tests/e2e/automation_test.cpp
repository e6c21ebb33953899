// The driver's measuring commands against the real console: the benchmarks time a reply from
// the line to its field with them.
#include <gtest/gtest.h>

#include <time.h>

#include <cstdint>
#include <string>
#include <thread>

#include "e2e/harness.h"

namespace velmora::e2e {
namespace {

std::int64_t MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

TEST(Automation, AWatchedFieldReportsTheMonotonicTimeOfItsLastChange) {
  Workspace ws;
  Card card(ws, {"--start", "cpe", "--quiet", "--steady"});
  ConsoleApp console("COM1=" + card.Link());
  console.Do("choose CommPortSelect 1");
  ASSERT_TRUE(console.WaitFor("ProgramText", "text", "CPE APP", 5s));
  console.Do("watch TemperatureText");
  EXPECT_EQ(console.Do("changed TemperatureText"), "0");

  const std::int64_t before = MonotonicNs();
  card.Operator("temp 40");
  bool shown = false;
  for (int i = 0; i < 200 && !shown; ++i) {
    shown = console.Get("TemperatureText") == " 40";
    if (!shown) std::this_thread::sleep_for(50ms);
  }
  const std::int64_t after = MonotonicNs();
  ASSERT_TRUE(shown) << "the card's new temperature never showed";

  const std::int64_t changed = std::stoll(console.Do("changed TemperatureText"));
  EXPECT_GE(changed, before);
  EXPECT_LE(changed, after);
}

}  // namespace
}  // namespace velmora::e2e
