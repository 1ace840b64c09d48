#include "base/text_slot.h"

#include <cstdarg>
#include <cstdio>

FormattedText formatText(std::span<char> out, const char* format, ...) {
  if (out.empty()) {
    return {0, false};
  }
  va_list args;
  va_start(args, format);
  const int wanted = std::vsnprintf(out.data(), out.size(), format, args);
  va_end(args);
  if (wanted < 0) {
    out[0] = '\0';
    return {0, false};
  }
  const auto length = static_cast<std::size_t>(wanted);
  if (length >= out.size()) {
    return {out.size() - 1, false};
  }
  return {length, true};
}
