#include "replies/numbers.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {
namespace {

// Reply texts hold control characters and Latin-1 bytes; show them so a failing row is readable.
std::string Shown(std::string_view text) {
  std::string shown = "\"";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown.push_back(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  return shown + "\"";
}

::testing::AssertionResult Overflows(const std::function<void()>& action) {
  try {
    action();
  } catch (const ReplyError& error) {
    if (std::string_view(error.what()) == "Overflow") return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "ReplyError with message " << error.what();
  } catch (...) {
    return ::testing::AssertionFailure() << "an exception other than ReplyError";
  }
  return ::testing::AssertionFailure() << "no exception";
}

struct TextCase {
  std::string text;
  double expected;
};

void ExpectReadings(const std::vector<TextCase>& cases) {
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(Shown(text));
    EXPECT_EQ(NumberFromText(text), expected);
  }
}

TEST(NumberFromText, ReadsDecimalNumberAtFrontAndZeroWhenThereIsNone) {
  ExpectReadings({
      {"", 0},     {"abc", 0},    {"-", 0},     {"+", 0},       {".", 0},   {"-.", 0},
      {"--5", 0},  {"+-5", 0},    {"x12", 0},   {"0x1F", 0},    {"inf", 0}, {"nan", 0},
      {".5", 0.5}, {"-.5", -0.5}, {"3.", 3},    {"26", 26},     {"+7", 7},  {"-1", -1},
      {"007", 7},  {"12abc", 12}, {"12-3", 12}, {"1.5.5", 1.5}, {"1,5", 1}, {"2.75", 2.75},
  });
}

TEST(NumberFromText, IgnoresBlanksTabsAndLineFeedsAnywhereButNotOtherControls) {
  ExpectReadings({
      {" 26", 26},
      {"1 2 3", 123},
      {"- 5", -5},
      {"1\t0", 10},
      {"1\n0", 10},
      {"2 . 5", 2.5},
      {"1 E 2", 100},
      {"\t\n 7 \n", 7},
      // A carriage return is not ignored: the number ends in front of it.
      {"1\r0", 1},
  });
}

TEST(NumberFromText, ReadsExponentOnlyWhenItHasDigits) {
  ExpectReadings({
      {"1E2", 100},
      {"1e2", 100},
      {"2.5e-1", 0.25},
      {"1E+2", 100},
      {".5E1", 5},
      {"-1E2", -100},
      {"1E", 1},
      {"1E+", 1},
      {"1e-", 1},
      {"1Ex", 1},
      {"1E2.5", 100},
      {"1E2E3", 100},
      {"1D2", 1},
  });
}

TEST(NumberFromText, HexUpToFourDigitsIsSixteenBitTwosComplement) {
  ExpectReadings({
      {"&H0", 0},
      {"&H1F", 31},
      {"&hff", 255},
      {"&H7FFF", 32767},
      {"&H8000", -32768},
      {"&HFFFF", -1},
      {"&HFFF6", -10},
      {"&H0FFF", 4095},
  });
}

TEST(NumberFromText, HexFiveToEightDigitsIsThirtyTwoBitTwosComplement) {
  ExpectReadings({
      {"&H0FFFF", 65535},
      {"&H08000", 32768},
      {"&H10000", 65536},
      {"&H7FFFFFFF", 2147483647},
      {"&H80000000", -2147483648.0},
      {"&HFFFFFFFF", -1},
      {"&H000FFFFF", 1048575},
  });
}

TEST(NumberFromText, HexStopsAtFirstNonDigitAndGivesZeroWithoutDigits) {
  ExpectReadings({
      {"&H1G", 1},
      {"&H", 0},
      {"&HG1", 0},
      {"&H-1", 0},
      {"&H1.5", 1},
      {"&H1E2", 482},
      {"&HFFFF0", 1048560},
      {"&Hab", 171},
      // Only a text that starts with "&H" is hexadecimal.
      {"-&H1", 0},
      {"&&H1", 0},
      {"&X1F", 0},
      {"H1F", 0},
  });
}

TEST(NumberFromText, HexIgnoresBlanksTabsAndLineFeedsInPrefixAndDigits) {
  ExpectReadings({
      {"& H1F", 31},
      {"&H 1F", 31},
      {"&H1 F", 31},
      {" &H10", 16},
      {"&\tH\n1F", 31},
      // Blanks between the digits still count toward the width.
      {"&H0 FFFF", 65535},
      {"&HFF FF", -1},
  });
}

TEST(NumberFromText, HexBeyondEightDigitsCountsOnlySignificantDigits) {
  ExpectReadings({
      {"&H000000001", 1},
      {"&H0FFFFFFFF", -1},
      {"&H000080000000", -2147483648.0},
      {"&H00000000FFFF", 65535},
      {"&H000000000", 0},
      {"&H0000000007FFFFFFF", 2147483647},
  });
}

TEST(NumberFromText, HexWiderThanThirtyTwoBitsOverflows) {
  for (const char* text : {"&H100000000", "&HFFFFFFFFF", "&H0123456789", "&H1 00000000"}) {
    SCOPED_TRACE(Shown(text));
    EXPECT_TRUE(Overflows([&] { NumberFromText(text); }));
  }
}

TEST(NumberFromText, DecimalBeyondDoubleRangeOverflowsAndBelowItReadsZero) {
  const std::string four_hundred_digits = "1" + std::string(400, '0');
  for (const std::string& text :
       {std::string("1e400"), std::string("-1e400"), std::string("1.8e308"), std::string("100e307"),
        std::string("0.1e310"), std::string("1e99999999999999"), four_hundred_digits}) {
    SCOPED_TRACE(Shown(text));
    EXPECT_TRUE(Overflows([&] { NumberFromText(text); }));
  }
  ExpectReadings({
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"0.01e310", 1e308},
      {"1e-400", 0},
      {"10e-325", 0},
      {"1e-99999999999999", 0},
      {"0e99999", 0},
  });
}

TEST(NumberFromText, Latin1BytesAreNeitherDigitsNorBlanks) {
  ExpectReadings({
      {"\xFF", 0},
      {"5\xFF", 5},
      {"\xFF"
       "5",
       0},
      {"&H\xFF", 0},
      {"&H1\xFF"
       "F",
       1},
      // A no-break space is not a blank.
      {"\xA0"
       "5",
       0},
      {"1\xA0"
       "5",
       1},
      // Superscript two and the Latin-1 fraction are letters here, not digits.
      {"\xB2", 0},
      {"1\xBD", 1},
  });
}

TEST(NumberFromText, NeverGivesNegativeZero) {
  EXPECT_FALSE(std::signbit(NumberFromText("-0")));
  EXPECT_FALSE(std::signbit(NumberFromText("-0.0e5")));
}

template <typename Int>
struct RoundCase {
  double value;
  Int expected;
};

template <typename Int>
void ExpectRounding(Int (*convert)(double), const std::vector<RoundCase<Int>>& cases) {
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(::testing::Message() << "value " << std::setprecision(17) << value);
    EXPECT_EQ(convert(value), expected);
  }
}

void ExpectOverflows(const std::function<void(double)>& convert,
                     const std::vector<double>& values) {
  for (double value : values) {
    SCOPED_TRACE(::testing::Message() << "value " << std::setprecision(17) << value);
    EXPECT_TRUE(Overflows([&] { convert(value); }));
  }
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// The largest double below one half: adding 0.5 and taking the floor wrongly gives 1.
constexpr double kJustBelowHalf = 0.49999999999999994;

TEST(ToByte, RoundsToNearestWithHalvesToEvenNeighbour) {
  ExpectRounding<std::uint8_t>(ToByte, {
                                           {0, 0},
                                           {0.5, 0},
                                           {kJustBelowHalf, 0},
                                           {1.5, 2},
                                           {2.5, 2},
                                           {3.5, 4},
                                           {2.5000000000000004, 3},
                                           {-0.4, 0},
                                           {-0.5, 0},
                                           {253.5, 254},
                                           {254.5, 254},
                                           {255, 255},
                                           {255.4, 255},
                                       });
}

TEST(ToByte, OverflowsWhenRoundedValueIsOutsideZeroTo255) {
  ExpectOverflows(ToByte, {255.5, 256, -0.6, -1, 1e300, kNaN, kInf, -kInf});
}

TEST(ToInt16, RoundsToNearestWithHalvesToEvenNeighbour) {
  ExpectRounding<std::int16_t>(ToInt16, {
                                            {2.5, 2},
                                            {-2.5, -2},
                                            {-3.5, -4},
                                            {-kJustBelowHalf, 0},
                                            {32766.5, 32766},
                                            {32767, 32767},
                                            {32767.4, 32767},
                                            {-32767.5, -32768},
                                            {-32768, -32768},
                                            {-32768.5, -32768},
                                        });
}

TEST(ToInt16, OverflowsWhenRoundedValueIsOutsideSixteenBits) {
  ExpectOverflows(ToInt16, {32767.5, 32768, -32768.6, -32769, 65535, kNaN, kInf, -kInf});
}

TEST(ToInt32, RoundsToNearestWithHalvesToEvenNeighbour) {
  ExpectRounding<std::int32_t>(ToInt32, {
                                            {0.5, 0},
                                            {-0.5, 0},
                                            {1.5, 2},
                                            {-1.5, -2},
                                            {-0.5000000000000001, -1},
                                            {2147483646.5, 2147483646},
                                            {2147483647.4, 2147483647},
                                            {-2147483647.5, -2147483647 - 1},
                                            {-2147483648.5, -2147483647 - 1},
                                        });
}

TEST(ToInt32, OverflowsWhenRoundedValueIsOutsideThirtyTwoBits) {
  ExpectOverflows(ToInt32,
                  {2147483647.5, 2147483648.0, -2147483648.6, -2147483649.0, 1e300, kNaN, kInf});
}

// Restores the rounding mode even when an expectation inside fails.
class RoundingModeGuard {
 public:
  explicit RoundingModeGuard(int mode) : saved_(std::fegetround()) { std::fesetround(mode); }
  ~RoundingModeGuard() { std::fesetround(saved_); }
  RoundingModeGuard(const RoundingModeGuard&) = delete;
  RoundingModeGuard& operator=(const RoundingModeGuard&) = delete;

 private:
  int saved_;
};

TEST(WholeNumberConversions, HalvesGoToEvenWhateverTheRoundingMode) {
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    SCOPED_TRACE(::testing::Message() << "rounding mode " << mode);
    RoundingModeGuard guard(mode);
    EXPECT_EQ(ToByte(2.5), 2);
    EXPECT_EQ(ToByte(3.5), 4);
    EXPECT_EQ(ToByte(2.4), 2);
    EXPECT_EQ(ToByte(2.6), 3);
    EXPECT_EQ(ToInt16(-2.5), -2);
    EXPECT_EQ(ToInt16(-2.6), -3);
    EXPECT_EQ(ToInt32(-3.5), -4);
    EXPECT_EQ(ToInt32(-3.4), -3);
    EXPECT_EQ(ToByte(kJustBelowHalf), 0);
    EXPECT_EQ(ToInt16(-kJustBelowHalf), 0);
  }
}

TEST(NumberText, WritesBlankBeforeZeroAndPositiveAndMinusBeforeNegative) {
  const std::vector<std::pair<std::int64_t, std::string>> cases = {
      {0, " 0"},
      {26, " 26"},
      {-1, "-1"},
      {-30, "-30"},
      {std::numeric_limits<std::int64_t>::max(), " 9223372036854775807"},
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
  };
  for (const auto& [n, expected] : cases) {
    EXPECT_EQ(NumberText(n), expected) << "n " << n;
  }
}

TEST(HexText, WritesUpperCaseDigitsWithoutPrefixOrLeadingZeros) {
  EXPECT_EQ(HexText(std::int32_t{0}), "0");
  EXPECT_EQ(HexText(std::int32_t{30}), "1E");
  EXPECT_EQ(HexText(std::int32_t{255}), "FF");
  EXPECT_EQ(HexText(std::int32_t{4096}), "1000");
  EXPECT_EQ(HexText(std::int32_t{0xABCDEF}), "ABCDEF");
  EXPECT_EQ(HexText(std::numeric_limits<std::int32_t>::max()), "7FFFFFFF");
  EXPECT_EQ(HexText(std::int16_t{0}), "0");
  EXPECT_EQ(HexText(std::int16_t{30}), "1E");
  EXPECT_EQ(HexText(std::int16_t{0x7FFF}), "7FFF");
  EXPECT_EQ(HexText(std::uint8_t{0}), "0");
  EXPECT_EQ(HexText(std::uint8_t{10}), "A");
  EXPECT_EQ(HexText(std::uint8_t{255}), "FF");
}

TEST(HexText, WritesNegativeAsTwosComplementOfItsWidth) {
  EXPECT_EQ(HexText(std::int32_t{-1}), "FFFFFFFF");
  EXPECT_EQ(HexText(std::numeric_limits<std::int32_t>::min()), "80000000");
  EXPECT_EQ(HexText(std::int32_t{-10}), "FFFFFFF6");
  EXPECT_EQ(HexText(std::int16_t{-1}), "FFFF");
  EXPECT_EQ(HexText(std::numeric_limits<std::int16_t>::min()), "8000");
  EXPECT_EQ(HexText(std::int16_t{-10}), "FFF6");
}

template <typename T>
concept HexWritable = requires(T n) {
  HexText(n);
};

TEST(HexText, PicksWidthFromArgumentTypeAndRefusesWiderTypes) {
  // An int literal is a 32-bit value, an int16_t variable a 16-bit one.
  EXPECT_EQ(HexText(-1), "FFFFFFFF");
  EXPECT_EQ(HexText(30), "1E");
  const std::int16_t sixteen = -1;
  EXPECT_EQ(HexText(sixteen), "FFFF");
  const std::uint8_t byte = 0xFF;
  EXPECT_EQ(HexText(byte), "FF");
  const unsigned short unsigned_sixteen = 0xFFFF;
  EXPECT_EQ(HexText(unsigned_sixteen), "FFFF");

  static_assert(HexWritable<int>);
  static_assert(HexWritable<unsigned short>);
  static_assert(!HexWritable<std::int64_t>);
  static_assert(!HexWritable<std::uint32_t>);
  static_assert(!HexWritable<std::size_t>);
}

}  // namespace
}  // namespace velmora
