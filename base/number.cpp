#include "base/number.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

std::optional<int> scanInt(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}
