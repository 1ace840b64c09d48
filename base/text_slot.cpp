#include "base/text_slot.h"

#include <cstdarg>
#include <cstdio>

// The formats are the program's own, so the C library never refuses them.
FormattedText formatText(std::span<char> out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const auto wanted =
      static_cast<std::size_t>(std::vsnprintf(out.data(), out.size(), format, args));
  va_end(args);
  if (wanted >= out.size()) {
    return {out.size() - 1, false};
  }
  return {wanted, true};
}
