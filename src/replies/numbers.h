// The console's number rules: how a reply's text becomes a number, how a number is cut down to
// the width a field or command needs, and how numbers are written for the engineer and the card.
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmora {

// Raised while one reply line is interpreted (a conversion overflow, an index outside its array).
// The dispatcher catches it per line, so it only ends the handling of the line that caused it.
struct ReplyError : std::runtime_error {
  explicit ReplyError(const std::string& message) : std::runtime_error(message) {}
};

// Reads the number at the front of a reply text; 0 when there is none. Blanks, tabs and line feeds
// are ignored wherever they are. "&H" (or "&h") starts a hexadecimal number: up to four digits are
// a 16-bit two's-complement value, five to eight digits a 32-bit one. Otherwise a decimal number
// with optional sign, fraction and exponent is read. The text is raw 8-bit Latin-1, and the
// reading never depends on the locale. Throws ReplyError("Overflow") for a hexadecimal number
// wider than 32 bits or a decimal one beyond the range of double.
double NumberFromText(std::string_view text);

// Nearest whole number, a half going to the even neighbour; ReplyError("Overflow") when the result
// is outside the target range or the value is not finite.
std::uint8_t ToByte(double value);
std::int16_t ToInt16(double value);
std::int32_t ToInt32(double value);

// Decimal, with a leading blank for zero and positive numbers (" 26") and "-" for negative ones.
std::string NumberText(std::int64_t n);

// Upper-case hexadecimal without prefix or leading zeros, as the card's commands expect. A
// negative number is written as the two's complement of its own width, so the overload chosen
// decides the digits: -1 gives "FFFFFFFF" as a 32-bit value and "FFFF" as a 16-bit one. Note that
// arithmetic on an int16_t yields an int, which is written at 32 bits.
std::string HexText(std::int32_t n);
std::string HexText(std::int16_t n);
std::string HexText(std::uint8_t n);

namespace detail {
template <typename T>
concept OtherHexInteger =
    std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, std::int32_t> &&
    !std::same_as<T, std::int16_t> && !std::same_as<T, std::uint8_t> &&
    std::numeric_limits<T>::digits <= std::numeric_limits<std::int32_t>::digits;
}  // namespace detail

// Any other integer type whose every value fits in 32 bits (an int where int32_t is another type,
// unsigned short, ...) is written at the 32-bit width. Wider types (long long, unsigned int,
// size_t) do not compile, so a value the card cannot take is never cut silently.
template <detail::OtherHexInteger T>
std::string HexText(T n) {
  return HexText(static_cast<std::int32_t>(n));
}

}  // namespace velmora
