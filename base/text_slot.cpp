#include "base/text_slot.h"

#include <cstdio>

// The formats are the program's own, so the C library never refuses them.
FormattedText formatTextV(std::span<char> out, const char* format, va_list args) {
  const auto wanted =
      static_cast<std::size_t>(std::vsnprintf(out.data(), out.size(), format, args));
  if (wanted >= out.size()) {
    return {out.size() - 1, false};
  }
  return {wanted, true};
}

FormattedText formatText(std::span<char> out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const FormattedText text = formatTextV(out, format, args);
  va_end(args);
  return text;
}
