#include "base/number.h"

#include <climits>
#include <limits>

std::optional<unsigned> digitValue(int c, unsigned base) {
  unsigned value = base;
  if (c >= '0' && c <= '9') {
    value = static_cast<unsigned>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    value = static_cast<unsigned>(c - 'a' + 10);
  } else if (c >= 'A' && c <= 'F') {
    value = static_cast<unsigned>(c - 'A' + 10);
  }
  return value < base ? std::optional(value) : std::nullopt;
}

void addDigit(NumberReading& number, unsigned digit, unsigned base) {
  number.anyDigit = true;
  if (number.magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
    number.overflowed = true;
  } else {
    number.magnitude = number.magnitude * base + digit;
  }
}

std::optional<std::int64_t> valueWithin(const NumberReading& number, std::int64_t minimum,
                                        std::int64_t maximum) {
  // The magnitude is checked before it takes its sign, so that nothing overflows.
  const std::uint64_t limit = number.negative ? 0 - static_cast<std::uint64_t>(minimum)
                                              : static_cast<std::uint64_t>(maximum);
  if (!number.anyDigit || number.overflowed || number.magnitude > limit) {
    return std::nullopt;
  }
  const auto magnitude = static_cast<std::int64_t>(number.magnitude);
  return number.negative ? -magnitude : magnitude;
}

std::optional<int> scanInt(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) {
    text.remove_prefix(1);
  }
  NumberReading number;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    number.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  for (; !text.empty(); text.remove_prefix(1)) {
    const auto digit = digitValue(text.front(), 10);
    if (!digit) {
      break;
    }
    addDigit(number, *digit, 10);
  }
  const auto value = valueWithin(number, INT_MIN, INT_MAX);
  return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

std::optional<unsigned> digitsValue(std::string_view text, unsigned maximum) {
  NumberReading number;
  for (const char c : text) {
    const auto digit = digitValue(c, 10);
    if (!digit) {
      return std::nullopt;
    }
    addDigit(number, *digit, 10);
  }
  const auto value = valueWithin(number, 0, maximum);
  return value ? std::optional<unsigned>(static_cast<unsigned>(*value)) : std::nullopt;
}
