// The number rules: reading a reply's text, cutting a number to a width, writing it back.
#include "replies/numbers.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace velmora {
namespace {

constexpr double kOverflow = std::numeric_limits<double>::quiet_NaN();  // expected: ReplyError
constexpr double kJustBelowHalf = 0.49999999999999994;

// What a call gives, or kOverflow when it raises ReplyError("Overflow").
double Outcome(const std::function<double()>& call) {
  try {
    return call();
  } catch (const ReplyError& e) {
    return std::string(e.what()) == "Overflow" ? kOverflow : -12345;
  }
}

void ExpectOutcome(double got, double expected, const std::string& row) {
  if (std::isnan(expected))
    EXPECT_TRUE(std::isnan(got)) << row << " gave " << got << ", expected Overflow";
  else
    EXPECT_TRUE(got == expected && std::signbit(got) == std::signbit(expected))
        << row << " gave " << got << ", expected " << expected;
}

// One row per rule; fuzz_numbers holds every text its seeds give against a reference reader.
TEST(NumberRules, ReplyTextReadsAsTheNumberAtItsFront) {
  const struct {
    std::string text;
    double value;
    // clang-format off
  } rows[] = {
      {"abc", 0}, {"12abc", 12}, {"-.5", -0.5}, {"-0", 0}, {"1 2\t3\n4", 1234}, {"1\r0", 1},
      {"2.5e-1", 0.25}, {"1E+", 1}, {"&H7FFF", 32767}, {"&HFFFF", -1}, {"&H0FFFF", 65535},
      {"&HFFFFFFFF", -1}, {"&H00000000FFFF", 65535}, {"&H100000000", kOverflow},
      {"1.8e308", kOverflow}, {"1e-400", 0}, {"5\xFF", 5}, {"\xA0" "5", 0},
  };
  // clang-format on
  for (const auto& r : rows)
    ExpectOutcome(Outcome([&] { return NumberFromText(r.text); }), r.value,
                  ::testing::PrintToString(r.text));  // escaped: rows hold Latin-1 bytes
}

TEST(NumberRules, WholeNumbersAreNearestWithHalvesToEvenOrOverflow) {
  const auto byte = [](double v) { return double(ToByte(v)); };
  const auto int16 = [](double v) { return double(ToInt16(v)); };
  const auto int32 = [](double v) { return double(ToInt32(v)); };
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* name;
    std::function<double(double)> convert;
    std::vector<std::pair<double, double>> cases;  // value, expected
    // clang-format off
  } rows[] = {
      {"byte", byte, {{0.5, 0}, {kJustBelowHalf, 0}, {1.5, 2}, {2.5, 2}, {2.5000000000000004, 3},
                      {2.6, 3}, {-0.5, 0}, {254.5, 254}, {255.4, 255}, {255.5, kOverflow},
                      {-0.6, kOverflow}, {kOverflow, kOverflow}, {inf, kOverflow}}},
      {"int16", int16, {{-2.5, -2}, {-3.5, -4}, {32767.4, 32767}, {-32768.5, -32768},
                        {32767.5, kOverflow}, {-32768.6, kOverflow}, {-inf, kOverflow}}},
      {"int32", int32, {{-1.5, -2}, {-0.5000000000000001, -1}, {2147483647.4, 2147483647},
                        {-2147483648.5, -2147483648.0}, {2147483647.5, kOverflow},
                        {-2147483648.6, kOverflow}}}};
  // clang-format on
  // Whatever rounding mode the process runs in.
  const int saved = std::fegetround();
  for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    std::fesetround(mode);
    for (const auto& r : rows)
      for (const auto& [value, expected] : r.cases)
        ExpectOutcome(Outcome([&] { return r.convert(value); }), expected + 0.0,
                      std::string(r.name) + "(" + std::to_string(value) + ") rounding mode " +
                          std::to_string(mode));
  }
  std::fesetround(saved);
}

}  // namespace
}  // namespace velmora
