// The number rules against a slow reference that is easy to check by eye: NumberFromText must
// give what the C library's correctly rounded strtod gives for the same number written plainly
// (or Overflow beyond the range of double), the whole-number conversions what nearbyint gives in
// the default rounding mode (nearest, halves to even), and NumberText and HexText must read back
// as the number they wrote.
//
// The whole input is the text given to NumberFromText. Its first bytes also serve as the raw bits
// of a double and of integers, for the conversions and the writers.
#include <cerrno>
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

using velmora::ReplyError;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "\nfuzz_numbers: %s\n", what.c_str());
  std::abort();
}

std::string Show(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

bool Digit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigit(char c) {
  const char* digits = "0123456789abcdef";
  const char* at = c == 0 ? nullptr : std::strchr(digits, c >= 'A' && c <= 'F' ? c + 32 : c);
  return at ? static_cast<int>(at - digits) : -1;
}

// The reference reading: nullopt for Overflow.
std::optional<double> Reference(std::string_view raw) {
  std::string t;
  for (char c : raw)
    if (c != ' ' && c != '\t' && c != '\n') t += c;
  if (t.size() >= 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h')) {
    std::size_t i = 2, count = 0, significant = 0;
    std::uint64_t value = 0;
    for (; i < t.size() && HexDigit(t[i]) >= 0; ++i, ++count) {
      if (significant > 0 || HexDigit(t[i]) != 0) ++significant;
      if (significant > 8) return std::nullopt;
      value = value * 16 + static_cast<std::uint64_t>(HexDigit(t[i]));
    }
    if (count <= 4) return static_cast<double>(static_cast<std::int16_t>(value));
    return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
  }
  // The number written plainly: sign, digits, point, digits, and an exponent only with digits.
  std::string plain;
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) plain += t[i++];
  bool anyDigit = false;
  for (; i < t.size() && Digit(t[i]); ++i) plain += t[i], anyDigit = true;
  if (i < t.size() && t[i] == '.')
    for (plain += t[i++]; i < t.size() && Digit(t[i]); ++i) plain += t[i], anyDigit = true;
  if (!anyDigit) return 0.0;
  if (i < t.size() && (t[i] == 'E' || t[i] == 'e')) {
    std::size_t j = i + 1 < t.size() && (t[i + 1] == '+' || t[i + 1] == '-') ? i + 2 : i + 1;
    if (j < t.size() && Digit(t[j]))
      for (plain += t.substr(i, j - i); j < t.size() && Digit(t[j]); ++j) plain += t[j];
  }
  errno = 0;
  const double v = std::strtod(plain.c_str(), nullptr);
  if (std::isinf(v)) return std::nullopt;
  return v == 0 ? 0.0 : v;
}

void CheckNumberFromText(std::string_view text, std::optional<double>& result) {
  const std::optional<double> expected = Reference(text);
  try {
    result = velmora::NumberFromText(text);
  } catch (const ReplyError& e) {
    if (expected || std::string_view(e.what()) != "Overflow")
      Fail("NumberFromText raised " + std::string(e.what()) + ", expected " + Show(*expected));
    return;
  }
  if (!expected) Fail("NumberFromText gave " + Show(*result) + ", expected Overflow");
  if (*result != *expected || std::signbit(*result) != std::signbit(*expected))
    Fail("NumberFromText gave " + Show(*result) + ", expected " + Show(*expected));
}

template <typename Int, typename Convert>
void CheckConversion(const char* name, Convert convert, double v) {
  const double r = std::nearbyint(v);  // the default rounding mode: nearest, halves to even
  const bool fits = std::isfinite(r) && r >= std::numeric_limits<Int>::min() &&
                    r <= std::numeric_limits<Int>::max();
  try {
    const Int got = convert(v);
    if (!fits || got != r)
      Fail(std::string(name) + "(" + Show(v) + ") gave " + std::to_string(got) + ", expected " +
           (fits ? Show(r) : "Overflow"));
  } catch (const ReplyError&) {
    if (fits) Fail(std::string(name) + "(" + Show(v) + ") raised ReplyError, expected " + Show(r));
  }
}

void CheckConversions(double v) {
  CheckConversion<std::uint8_t>("ToByte", velmora::ToByte, v);
  CheckConversion<std::int16_t>("ToInt16", velmora::ToInt16, v);
  CheckConversion<std::int32_t>("ToInt32", velmora::ToInt32, v);
}

void CheckWriters(std::int64_t n) {
  const std::string text = velmora::NumberText(n);
  if (text != (n >= 0 ? " " : "") + std::to_string(n)) Fail("NumberText gave \"" + text + "\"");
  const auto hex = [](std::uint32_t v) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%X", v);
    return std::string(digits);
  };
  const auto n32 = static_cast<std::int32_t>(n);
  const auto n16 = static_cast<std::int16_t>(n);
  const auto n8 = static_cast<std::uint8_t>(n);
  if (velmora::HexText(n32) != hex(static_cast<std::uint32_t>(n32)) ||
      velmora::HexText(n16) != hex(static_cast<std::uint16_t>(n16)) ||
      velmora::HexText(n8) != hex(n8))
    Fail("HexText of " + std::to_string(n32) + " gave " + velmora::HexText(n32) + ", " +
         velmora::HexText(n16) + ", " + velmora::HexText(n8));
  // Read back: a 16-bit number's digits give it back; so do a byte's.
  if (velmora::NumberFromText("&H" + velmora::HexText(n16)) != n16)
    Fail("HexText(int16 " + std::to_string(n16) + ") does not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<double> value;
  CheckNumberFromText(text, value);
  if (value) CheckConversions(*value);

  // The first eight bytes as the bits of a double and of integers.
  unsigned char bytes[8] = {};
  std::memcpy(bytes, data, size < 8 ? size : 8);
  double d = 0;
  std::int64_t n = 0;
  std::memcpy(&d, bytes, sizeof d);
  std::memcpy(&n, bytes, sizeof n);
  CheckConversions(d);
  // Halves and near-halves, where rounding goes wrong most easily.
  CheckConversions(std::nearbyint(d) + 0.5);
  CheckConversions(std::floor(d / 2) * 2 + 0.5);
  CheckWriters(n);
  CheckWriters(static_cast<std::int32_t>(n));
  return 0;
}
