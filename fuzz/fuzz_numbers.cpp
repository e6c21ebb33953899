// The number rules against a slow reference that is easy to check by eye: NumberFromText must
// give what the C library's correctly rounded strtod gives for the same number written plainly
// (or Overflow beyond the range of double), the whole-number conversions what nearbyint gives in
// the default rounding mode (nearest, halves to even), and NumberText and HexText must read back
// as the number they wrote.
//
// The whole input is the text given to NumberFromText. Its first bytes also serve as the raw bits
// of a double and of integers, for the conversions and the writers.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "replies/numbers.h"

namespace {

using namespace velmora;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "\nfuzz_numbers: %s\n", what.c_str());
  std::abort();
}

std::string Show(std::optional<double> v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v.value_or(0));
  return v ? text : "Overflow";
}

// The reference reading: nullopt for Overflow.
std::optional<double> Reference(std::string_view raw) {
  std::string t(raw);
  std::erase_if(t, [](char c) { return c == ' ' || c == '\t' || c == '\n'; });
  std::size_t i = 0;
  // Steps i over the characters of `set` there; how many.
  const auto skip = [&](const char* set) {
    const std::size_t from = i;
    i = std::min(t.find_first_not_of(set, i), t.size());
    return i - from;
  };
  if (t.starts_with("&H") || t.starts_with("&h")) {
    i = 2;
    const std::string digits = t.substr(2, skip("0123456789abcdefABCDEF"));
    if (digits.size() - std::min(digits.size(), digits.find_first_not_of('0')) > 8)
      return std::nullopt;
    const auto value = static_cast<std::uint32_t>(std::strtoull(digits.c_str(), nullptr, 16));
    if (digits.size() <= 4) return static_cast<std::int16_t>(value);
    return static_cast<std::int32_t>(value);
  }
  // The number written plainly: sign, digits, point, digits, and an exponent only with digits.
  const auto sign = [&] { return i < t.size() && (t[i] == '+' || t[i] == '-'); };
  i = sign();
  std::size_t digits = skip("0123456789");
  if (i < t.size() && t[i] == '.') {
    ++i;
    digits += skip("0123456789");
  }
  if (digits == 0) return 0.0;
  std::size_t end = i;
  if (skip("Ee") == 1) {
    i += sign();
    if (skip("0123456789") > 0) end = i;
  }
  const double v = std::strtod(t.substr(0, end).c_str(), nullptr);
  if (std::isinf(v)) return std::nullopt;
  return v == 0 ? 0.0 : v;
}

template <typename Int, typename Convert>
void CheckConversion(const char* name, Convert convert, double v) {
  const double r = std::nearbyint(v);  // the default rounding mode: nearest, halves to even
  const bool fits = std::isfinite(r) && r >= std::numeric_limits<Int>::min() &&
                    r <= std::numeric_limits<Int>::max();
  std::string got = "ReplyError";
  try {
    const Int n = convert(v);
    if (fits && n == r) return;
    got = std::to_string(n);
  } catch (const ReplyError&) {
    if (!fits) return;
  }
  Fail(std::string(name) + "(" + Show(v) + ") gave " + got + ", expected " +
       Show(fits ? std::optional(r) : std::nullopt));
}

void CheckConversions(double v) {
  CheckConversion<std::uint8_t>("ToByte", ToByte, v);
  CheckConversion<std::int16_t>("ToInt16", ToInt16, v);
  CheckConversion<std::int32_t>("ToInt32", ToInt32, v);
}

void CheckWriters(std::int64_t n) {
  const std::string text = NumberText(n);
  if (text != (n >= 0 ? " " : "") + std::to_string(n)) Fail("NumberText gave \"" + text + "\"");
  const auto n32 = static_cast<std::int32_t>(n);
  const auto n16 = static_cast<std::int16_t>(n);
  const auto n8 = static_cast<std::uint8_t>(n);
  char hex[3][16];
  std::snprintf(hex[0], 16, "%X", static_cast<std::uint32_t>(n32));
  std::snprintf(hex[1], 16, "%X", static_cast<unsigned>(static_cast<std::uint16_t>(n16)));
  std::snprintf(hex[2], 16, "%X", static_cast<unsigned>(n8));
  if (HexText(n32) != hex[0] || HexText(n16) != hex[1] || HexText(n8) != hex[2])
    Fail("HexText of " + std::to_string(n32) + " gave " + HexText(n32) + ", " + HexText(n16) +
         ", " + HexText(n8));
  // Read back: a 16-bit number's digits give it back.
  if (NumberFromText("&H" + HexText(n16)) != n16)
    Fail("HexText(int16 " + std::to_string(n16) + ") does not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<double> expected = Reference(text);
  try {
    const double got = NumberFromText(text);
    if (!expected || got != *expected || std::signbit(got) != std::signbit(*expected))
      Fail("NumberFromText gave " + Show(got) + ", expected " + Show(expected));
    CheckConversions(got);
  } catch (const ReplyError& e) {
    if (expected || std::string_view(e.what()) != "Overflow")
      Fail("NumberFromText raised " + std::string(e.what()) + ", expected " + Show(expected));
  }

  // The first eight bytes as the bits of a double and of integers.
  unsigned char bytes[8] = {};
  std::memcpy(bytes, data, std::min<std::size_t>(size, 8));
  const auto d = std::bit_cast<double>(bytes);
  const auto n = std::bit_cast<std::int64_t>(bytes);
  CheckConversions(d);
  // Halves and near-halves, where rounding goes wrong most easily.
  CheckConversions(std::nearbyint(d) + 0.5);
  CheckConversions(std::floor(d / 2) * 2 + 0.5);
  CheckWriters(n);
  CheckWriters(static_cast<std::int32_t>(n));
  return 0;
}
