#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The program's one integer reader. It reads as the C library's "%d" and
// "%x" conversions do, but without their undefined behaviour on overflow,
// and alike on the 64-bit build machines and the 32-bit SP, where "%lx"
// converts only 32 bits.

// A number as its characters are taken, one at a time.
struct NumberReading {
  bool negative = false;
  bool overflowed = false;  // the magnitude does not fit 64 bits
  std::uint64_t magnitude = 0;
  bool anyDigit = false;
};

// White space as the C locale has it; NUL is not.
constexpr bool isSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The value of the character `c` as a digit of `base` (10 or 16), if it is one.
std::optional<unsigned> digitValue(int c, unsigned base);

// Adds `digit`, a digit of `base`, at the number's end.
void addDigit(NumberReading& number, unsigned digit, unsigned base);

// The number's value, when it has digits and lies in [minimum, maximum],
// where minimum <= 0 <= maximum and neither is the 64-bit extreme.
std::optional<std::int64_t> valueWithin(const NumberReading& number, std::int64_t minimum,
                                        std::int64_t maximum);

// The leading decimal integer of `text`, as "%d" reads it: leading white
// space, an optional sign, then digits; the rest is ignored. Empty when there
// are no digits or the value does not fit an int.
std::optional<int> scanInt(std::string_view text);

// The value of `text` when it is decimal digits only, in 0..maximum.
std::optional<unsigned> digitsValue(std::string_view text, unsigned maximum);
