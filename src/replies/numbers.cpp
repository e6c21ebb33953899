#include "replies/numbers.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>
#include <system_error>

namespace velmora {
namespace {

bool IsIgnored(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

// Plain byte comparisons: the text is Latin-1, and <cctype> would bring in the locale and is
// undefined for the negative chars that bytes above 0x7F become.
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

double HexNumber(std::string_view digits_and_rest) {
  std::size_t count = 0;
  while (count < digits_and_rest.size() && HexDigitValue(digits_and_rest[count]) >= 0) ++count;
  std::string_view digits = digits_and_rest.substr(0, count);

  // Four digits or fewer are a 16-bit value even when they start with zeros ("&H0FFF"), and up
  // to eight a 32-bit one ("&H0FFFF" is 65535). Beyond eight only the significant digits count.
  const bool sixteen_bits = digits.size() <= 4;
  if (digits.size() > 8) {
    const std::size_t first = digits.find_first_not_of('0');
    digits = first == std::string_view::npos ? std::string_view{} : digits.substr(first);
    if (digits.size() > 8) throw ReplyError("Overflow");
  }

  std::uint32_t value = 0;
  for (char c : digits) value = value * 16 + static_cast<std::uint32_t>(HexDigitValue(c));
  if (sixteen_bits) return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
  return static_cast<std::int32_t>(value);
}

// Decimal exponent of the leading significant digit, so that a value outside the range of double
// can be told apart as too large (overflow) or too small (reads as 0).
std::int64_t LeadingExponent(std::string_view int_digits, std::string_view frac_digits,
                             std::int64_t exponent) {
  const std::size_t first_int = int_digits.find_first_not_of('0');
  if (first_int != std::string_view::npos) {
    return exponent + static_cast<std::int64_t>(int_digits.size() - first_int) - 1;
  }
  const std::size_t first_frac = frac_digits.find_first_not_of('0');
  return exponent - static_cast<std::int64_t>(first_frac) - 1;
}

double DecimalNumber(std::string_view text) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  const std::size_t start = pos;
  const std::size_t int_start = pos;
  while (pos < text.size() && IsDigit(text[pos])) ++pos;
  const std::string_view int_digits = text.substr(int_start, pos - int_start);
  std::string_view frac_digits;
  if (pos < text.size() && text[pos] == '.') {
    const std::size_t frac_start = ++pos;
    while (pos < text.size() && IsDigit(text[pos])) ++pos;
    frac_digits = text.substr(frac_start, pos - frac_start);
  }
  if (int_digits.empty() && frac_digits.empty()) return 0;

  // The exponent belongs to the number only with at least one digit: "1E" and "1E+" are 1.
  std::int64_t exponent = 0;
  if (pos < text.size() && (text[pos] == 'E' || text[pos] == 'e')) {
    std::size_t exp_pos = pos + 1;
    bool exp_negative = false;
    if (exp_pos < text.size() && (text[exp_pos] == '+' || text[exp_pos] == '-')) {
      exp_negative = text[exp_pos] == '-';
      ++exp_pos;
    }
    if (exp_pos < text.size() && IsDigit(text[exp_pos])) {
      while (exp_pos < text.size() && IsDigit(text[exp_pos])) {
        // Saturate: a longer exponent changes nothing about overflow or underflow.
        if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[exp_pos] - '0');
        ++exp_pos;
      }
      if (exp_negative) exponent = -exponent;
      pos = exp_pos;
    }
  }

  // from_chars is locale independent; the sign is left out because it rejects a leading '+'.
  const std::string_view number = text.substr(start, pos - start);
  double value = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    if (LeadingExponent(int_digits, frac_digits, exponent) >= 0) throw ReplyError("Overflow");
    return 0;
  }
  // No "-0": a negative zero would only surprise whoever formats the value later.
  if (value == 0) return 0;
  return negative ? -value : value;
}

// Ties to even, decided here rather than by the floating-point environment's rounding mode,
// which other code may have changed: every step below is exact, so the mode cannot matter.
double RoundHalfEven(double value) {
  if (!std::isfinite(value)) throw ReplyError("Overflow");
  const double whole = std::floor(value);
  if (whole == value) return value;
  // A value with a fraction is below 2^52 in size, so whole + 0.5 and whole + 1 are exact.
  const double midpoint = whole + 0.5;
  if (value < midpoint) return whole;
  if (value > midpoint) return whole + 1;
  return std::fmod(whole, 2.0) == 0 ? whole : whole + 1;
}

template <typename Int>
Int RoundTo(double value) {
  const double rounded = RoundHalfEven(value);
  if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
    throw ReplyError("Overflow");
  }
  return static_cast<Int>(rounded);
}

std::string HexDigits(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string reversed;
  do {
    reversed.push_back(kDigits[value % 16]);
    value /= 16;
  } while (value != 0);
  return {reversed.rbegin(), reversed.rend()};
}

}  // namespace

double NumberFromText(std::string_view text) {
  std::string cleaned;
  cleaned.reserve(text.size());
  for (char c : text) {
    if (!IsIgnored(c)) cleaned.push_back(c);
  }
  const std::string_view view = cleaned;
  if (view.size() >= 2 && view[0] == '&' && (view[1] == 'H' || view[1] == 'h')) {
    return HexNumber(view.substr(2));
  }
  return DecimalNumber(view);
}

std::uint8_t ToByte(double value) {
  return RoundTo<std::uint8_t>(value);
}
std::int16_t ToInt16(double value) {
  return RoundTo<std::int16_t>(value);
}
std::int32_t ToInt32(double value) {
  return RoundTo<std::int32_t>(value);
}

std::string NumberText(std::int64_t n) {
  char buffer[24];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, n);
  (void)error;  // 20 characters hold any 64-bit number.
  std::string text(buffer, end);
  return n >= 0 ? " " + text : text;
}

std::string HexText(std::int32_t n) {
  return HexDigits(static_cast<std::uint32_t>(n));
}
std::string HexText(std::int16_t n) {
  return HexDigits(static_cast<std::uint16_t>(n));
}
std::string HexText(std::uint8_t n) {
  return HexDigits(n);
}

}  // namespace velmora
