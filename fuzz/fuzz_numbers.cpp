// The number rules against a slow reference that is easy to check by eye: NumberFromText must
// give the correctly rounded value of what the text says (or the same ReplyError), the whole-
// number conversions the nearest whole number with halves to even, and NumberText and HexText
// must read back as the number they wrote.
//
// The whole input is the text given to NumberFromText. Its first bytes also serve as the raw bits
// of a double and of integers, for the conversions and the writers.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "replies/numbers.h"

namespace {

using velmora::ReplyError;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "\nfuzz_numbers: %s\n", what.c_str());
  std::abort();
}

std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char ch : text.substr(0, 200)) {
    if (ch >= 0x20 && ch < 0x7F && ch != '\\') {
      out += static_cast<char>(ch);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", ch);
      out += hex;
    }
  }
  if (text.size() > 200) out += "...";
  return out;
}

std::string Show(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// ---------------------------------------------------------------------------------------------
// Non-negative big integers: just enough to compare decimal and binary values exactly.

struct Big {
  std::vector<std::uint32_t> words;  // little-endian, no leading zero words

  static Big From(std::uint64_t v) {
    Big b;
    while (v != 0) {
      b.words.push_back(static_cast<std::uint32_t>(v));
      v >>= 32;
    }
    return b;
  }
  void MulAdd(std::uint32_t factor, std::uint32_t add) {
    std::uint64_t carry = add;
    for (auto& w : words) {
      const std::uint64_t t = static_cast<std::uint64_t>(w) * factor + carry;
      w = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry != 0) words.push_back(static_cast<std::uint32_t>(carry));
    Trim();
  }
  void MulPow10(std::int64_t n) {
    for (; n >= 9; n -= 9) MulAdd(1'000'000'000u, 0);
    for (; n > 0; --n) MulAdd(10, 0);
  }
  void Shl(std::int64_t bits) {
    if (words.empty() || bits <= 0) return;
    const std::size_t whole = static_cast<std::size_t>(bits / 32);
    const unsigned part = static_cast<unsigned>(bits % 32);
    words.insert(words.begin(), whole, 0u);
    if (part != 0) {
      std::uint32_t carry = 0;
      for (std::size_t i = whole; i < words.size(); ++i) {
        const std::uint32_t w = words[i];
        words[i] = (w << part) | carry;
        carry = w >> (32 - part);
      }
      if (carry != 0) words.push_back(carry);
    }
  }
  bool IsZero() const { return words.empty(); }
  void Trim() {
    while (!words.empty() && words.back() == 0) words.pop_back();
  }
  friend int Compare(const Big& a, const Big& b) {
    if (a.words.size() != b.words.size()) return a.words.size() < b.words.size() ? -1 : 1;
    for (std::size_t i = a.words.size(); i-- > 0;)
      if (a.words[i] != b.words[i]) return a.words[i] < b.words[i] ? -1 : 1;
    return 0;
  }
};

// digits x 10^exp10 compared with mantissa x 2^exp2, all exact.
int CompareDecimalWithBinary(const Big& digits, std::int64_t exp10, std::uint64_t mantissa,
                             std::int64_t exp2) {
  Big left = digits;
  Big right = Big::From(mantissa);
  // Multiply both sides until every exponent is non-negative.
  if (exp10 >= 0) {
    left.MulPow10(exp10);
  } else {
    right.MulPow10(-exp10);
  }
  if (exp2 >= 0) {
    right.Shl(exp2);
  } else {
    left.Shl(-exp2);
  }
  return Compare(left, right);
}

// ---------------------------------------------------------------------------------------------
// The reference reading of a text.

struct Expected {
  bool overflow = false;
  // Hexadecimal, or a decimal without digits: the exact value.
  std::optional<double> exact;
  // Otherwise a decimal: sign, significant digits and the power of ten they are scaled by.
  bool negative = false;
  Big digits;
  std::int64_t exp10 = 0;
  std::int64_t leading = 0;  // decimal exponent of the first significant digit
};

bool Ignored(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}
bool Digit(char c) {
  return c >= '0' && c <= '9';
}
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Expected Reference(std::string_view raw) {
  std::string t;
  for (char c : raw)
    if (!Ignored(c)) t += c;
  Expected e;
  std::size_t i = 0;

  if (t.size() >= 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h')) {
    i = 2;
    std::size_t count = 0;
    std::size_t significant = 0;
    std::uint64_t value = 0;
    for (; i < t.size() && HexDigit(t[i]) >= 0; ++i) {
      ++count;
      if (significant > 0 || HexDigit(t[i]) != 0) ++significant;
      if (significant > 8) {
        e.overflow = true;
        return e;
      }
      value = value * 16 + static_cast<std::uint64_t>(HexDigit(t[i]));
    }
    if (count <= 4) {
      e.exact = value >= 0x8000 ? static_cast<double>(value) - 65536.0 : static_cast<double>(value);
    } else {
      e.exact = value >= 0x80000000u ? static_cast<double>(value) - 4294967296.0
                                     : static_cast<double>(value);
    }
    return e;
  }

  if (i < t.size() && (t[i] == '+' || t[i] == '-')) e.negative = t[i++] == '-';
  std::int64_t digitCount = 0;      // significant digits taken into e.digits
  std::int64_t fractionDigits = 0;  // of those, how many stood behind the point
  bool anyDigit = false;
  bool significantStarted = false;
  std::int64_t leadingZerosAfterPoint = 0;
  for (; i < t.size() && Digit(t[i]); ++i) {
    anyDigit = true;
    if (t[i] == '0' && !significantStarted) continue;
    significantStarted = true;
    e.digits.MulAdd(10, static_cast<std::uint32_t>(t[i] - '0'));
    ++digitCount;
  }
  const std::int64_t intSignificant = digitCount;
  if (i < t.size() && t[i] == '.') {
    ++i;
    for (; i < t.size() && Digit(t[i]); ++i) {
      anyDigit = true;
      ++fractionDigits;
      if (t[i] == '0' && !significantStarted) {
        ++leadingZerosAfterPoint;
        continue;
      }
      significantStarted = true;
      e.digits.MulAdd(10, static_cast<std::uint32_t>(t[i] - '0'));
      ++digitCount;
    }
  }
  if (!anyDigit) {
    e.exact = 0;
    return e;
  }
  std::int64_t exponent = 0;
  if (i < t.size() && (t[i] == 'E' || t[i] == 'e')) {
    std::size_t j = i + 1;
    bool minus = false;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) minus = t[j++] == '-';
    if (j < t.size() && Digit(t[j])) {
      for (; j < t.size() && Digit(t[j]); ++j)
        if (exponent < 1'000'000'000'000) exponent = exponent * 10 + (t[j] - '0');
      if (minus) exponent = -exponent;
    }
  }
  if (e.digits.IsZero()) {
    e.exact = 0;
    return e;
  }
  e.exp10 = exponent - fractionDigits;
  e.leading =
      intSignificant > 0 ? exponent + intSignificant - 1 : exponent - leadingZerosAfterPoint - 1;
  return e;
}

// Whether v (finite, not zero) is the double nearest to the decimal e, halves to even.
bool IsNearest(const Expected& e, double v) {
  int exp = 0;
  const double fraction = std::frexp(std::fabs(v), &exp);  // [0.5, 1) x 2^exp
  std::uint64_t m = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  std::int64_t k = exp - 53;
  if (k < -1074) {  // subnormal: the mantissa has fewer bits
    m >>= (-1074 - k);
    k = -1074;
  }
  // The midpoints to the two neighbours; below a power of two the lower neighbour is closer.
  const bool binadeBottom = m == (std::uint64_t{1} << 52) && k > -1074;
  const int upper = CompareDecimalWithBinary(e.digits, e.exp10, 2 * m + 1, k - 1);
  const int lower = binadeBottom ? CompareDecimalWithBinary(e.digits, e.exp10, 4 * m - 1, k - 2)
                                 : CompareDecimalWithBinary(e.digits, e.exp10, 2 * m - 1, k - 1);
  const bool even = (m % 2) == 0;
  if (upper > 0 || lower < 0) return false;
  if ((upper == 0 || lower == 0) && !even) return false;
  return true;
}

void CheckNumberFromText(std::string_view text, std::optional<double>& result) {
  const Expected e = Reference(text);
  bool threw = false;
  double v = 0;
  try {
    v = velmora::NumberFromText(text);
  } catch (const ReplyError&) {
    threw = true;
  }
  if (!threw) result = v;
  const std::string where = "NumberFromText(\"" + Printable(text) + "\")";

  if (e.overflow || e.exact) {
    if (e.overflow && !threw) Fail(where + " gave " + Show(v) + ", expected Overflow");
    if (e.exact && threw) Fail(where + " raised ReplyError, expected " + Show(*e.exact));
    if (e.exact && (v != *e.exact || (v == 0 && std::signbit(v))))
      Fail(where + " gave " + Show(v) + ", expected " + Show(*e.exact));
    return;
  }

  // A decimal with significant digits. Far out of range the answer is plain; near the edges the
  // exact comparison decides.
  const double largest = std::numeric_limits<double>::max();
  if (e.leading > 310 ||
      (e.leading > 306 &&
       // at least (2^54 - 1) x 2^970, the midpoint above the largest double
       CompareDecimalWithBinary(e.digits, e.exp10, (std::uint64_t{1} << 54) - 1, 970) >= 0)) {
    if (!threw)
      Fail(where + " gave " + Show(v) + ", expected Overflow (beyond " + Show(largest) + ")");
    return;
  }
  if (threw) Fail(where + " raised ReplyError for a number within the range of double");
  if (e.leading < -330 ||
      CompareDecimalWithBinary(e.digits, e.exp10, 1, -1075) <= 0) {  // at most half the least
    if (v != 0 || std::signbit(v)) Fail(where + " gave " + Show(v) + ", expected 0");
    return;
  }
  if (v == 0 || !std::isfinite(v)) Fail(where + " gave " + Show(v));
  if (std::signbit(v) != e.negative) Fail(where + " gave " + Show(v) + " with the wrong sign");
  if (!IsNearest(e, v)) Fail(where + " gave " + Show(v) + ", not the nearest double");
}

// ---------------------------------------------------------------------------------------------
// Whole-number conversions: nearest, halves to even, by integer arithmetic on the bits.

std::optional<long double> ReferenceRound(double v) {
  if (!std::isfinite(v)) return std::nullopt;
  const bool negative = std::signbit(v);
  const double a = std::fabs(v);
  if (a >= 4503599627370496.0) return v;  // 2^52 and above: already whole
  int exp = 0;
  const double fraction = std::frexp(a, &exp);
  const std::uint64_t m = static_cast<std::uint64_t>(std::ldexp(fraction, 53));  // a = m 2^(exp-53)
  const int shift = 53 - exp;  // a = m / 2^shift, shift >= 1 here
  std::uint64_t whole = 0;
  std::uint64_t rest = 0;  // the fraction, in units of 2^-shift
  std::uint64_t half = 0;
  if (shift >= 64) {
    // Below 2^-10: the fraction is all there is, and less than a half.
    whole = 0;
    rest = 1;
    half = 2;
  } else {
    whole = m >> shift;
    rest = m & ((std::uint64_t{1} << shift) - 1);
    half = std::uint64_t{1} << (shift - 1);
  }
  if (a == 0) rest = 0;
  if (rest > half || (rest == half && whole % 2 == 1)) ++whole;
  const long double r = static_cast<long double>(whole);
  return negative ? -r : r;
}

template <typename Int, typename Convert>
void CheckConversion(const char* name, Convert convert, double v) {
  const std::optional<long double> r = ReferenceRound(v);
  const bool fits = r && *r >= static_cast<long double>(std::numeric_limits<Int>::min()) &&
                    *r <= static_cast<long double>(std::numeric_limits<Int>::max());
  try {
    const Int got = convert(v);
    if (!fits)
      Fail(std::string(name) + "(" + Show(v) + ") gave " + std::to_string(got) +
           ", expected Overflow");
    if (static_cast<long double>(got) != *r)
      Fail(std::string(name) + "(" + Show(v) + ") gave " + std::to_string(got) + ", expected " +
           Show(static_cast<double>(*r)));
  } catch (const ReplyError&) {
    if (fits)
      Fail(std::string(name) + "(" + Show(v) + ") raised ReplyError, expected " +
           Show(static_cast<double>(*r)));
  }
}

void CheckConversions(double v) {
  CheckConversion<std::uint8_t>("ToByte", velmora::ToByte, v);
  CheckConversion<std::int16_t>("ToInt16", velmora::ToInt16, v);
  CheckConversion<std::int32_t>("ToInt32", velmora::ToInt32, v);
}

// ---------------------------------------------------------------------------------------------
// Writers.

void CheckNumberText(std::int64_t n) {
  const std::string text = velmora::NumberText(n);
  const std::string where = "NumberText(" + std::to_string(n) + ") = \"" + text + "\"";
  if (text.size() < 2 || (n >= 0 ? text[0] != ' ' : text[0] != '-')) Fail(where + ": wrong sign");
  const std::string digits = text.substr(1);
  if (digits.size() > 1 && digits[0] == '0') Fail(where + ": leading zero");
  unsigned __int128 magnitude = 0;
  for (char c : digits) {
    if (!Digit(c)) Fail(where + ": not a decimal number");
    magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
  }
  const __int128 back =
      n >= 0 ? static_cast<__int128>(magnitude) : -static_cast<__int128>(magnitude);
  if (back != n) Fail(where + ": reads back as another number");
  // The console's own reading gives the nearest double.
  if (velmora::NumberFromText(text) != static_cast<double>(n))
    Fail(where + ": NumberFromText reads it as " + Show(velmora::NumberFromText(text)));
}

std::uint32_t HexDigitsValue(const std::string& where, const std::string& text) {
  if (text.empty() || text.size() > 8) Fail(where + ": wrong length");
  if (text.size() > 1 && text[0] == '0') Fail(where + ": leading zero");
  std::uint32_t v = 0;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) Fail(where + ": not upper-case hex");
    v = v * 16 + static_cast<std::uint32_t>(HexDigit(c));
  }
  return v;
}

void CheckHexText(std::int32_t n32, std::int16_t n16, std::uint8_t n8) {
  {
    const std::string text = velmora::HexText(n32);
    const std::string where = "HexText(int32 " + std::to_string(n32) + ") = \"" + text + "\"";
    if (HexDigitsValue(where, text) != static_cast<std::uint32_t>(n32)) Fail(where + ": value");
    if (n32 < 0 && text.size() != 8) Fail(where + ": a negative number needs all 8 digits");
    // Read back: up to four digits are a 16-bit number, so 8000 to FFFF come back negative.
    const double back = velmora::NumberFromText("&H" + text);
    const double expected = n32 >= 0x8000 && n32 <= 0xFFFF ? n32 - 65536.0 : n32;
    if (back != expected) Fail(where + ": reads back as " + Show(back));
  }
  {
    const std::string text = velmora::HexText(n16);
    const std::string where = "HexText(int16 " + std::to_string(n16) + ") = \"" + text + "\"";
    if (HexDigitsValue(where, text) != static_cast<std::uint16_t>(n16)) Fail(where + ": value");
    if (n16 < 0 && text.size() != 4) Fail(where + ": a negative number needs all 4 digits");
    if (velmora::NumberFromText("&H" + text) != n16) Fail(where + ": does not read back");
  }
  {
    const std::string text = velmora::HexText(n8);
    const std::string where = "HexText(uint8 " + std::to_string(n8) + ") = \"" + text + "\"";
    if (HexDigitsValue(where, text) != n8) Fail(where + ": value");
    if (velmora::ToByte(velmora::NumberFromText("&H" + text)) != n8)
      Fail(where + ": does not read back");
  }
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
  std::int64_t n64 = 0;
  std::memcpy(&d, bytes, sizeof d);
  std::memcpy(&n64, bytes, sizeof n64);
  CheckConversions(d);
  // Halves and near-halves, where rounding goes wrong most easily.
  CheckConversions(std::nearbyint(d) + 0.5);
  CheckConversions(std::floor(d / 2) * 2 + 0.5);
  CheckNumberText(n64);
  CheckNumberText(static_cast<std::int32_t>(n64));
  CheckHexText(static_cast<std::int32_t>(n64), static_cast<std::int16_t>(n64),
               static_cast<std::uint8_t>(n64));
  return 0;
}
