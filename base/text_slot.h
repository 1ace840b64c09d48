#pragma once

#include <array>
#include <cstdarg>
#include <cstddef>
#include <span>

// A fixed text buffer: at most 255 characters and a terminating NUL.
inline constexpr std::size_t kTextSlotSize = 256;
using TextSlot = std::array<char, kTextSlotSize>;

struct FormattedText {
  std::size_t length;  // what was stored, without the NUL
  bool complete;       // false when the text was cut to fit
};

// Bounded formatted copy into `out`; text beyond its capacity is cut.
FormattedText formatText(std::span<char> out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
FormattedText formatTextV(std::span<char> out, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

inline void setText(TextSlot& slot, const char* text) { formatText(slot, "%s", text); }
