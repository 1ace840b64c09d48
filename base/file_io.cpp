#include "base/file_io.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>

bool writeAll(int fd, std::span<const char> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written <= 0) {
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

bool readAt(int file, off_t at, std::span<char> into) {
  while (!into.empty()) {
    const ssize_t got = ::pread(file, into.data(), into.size(), at);
    if (got <= 0) {
      return false;
    }
    into = into.subspan(static_cast<std::size_t>(got));
    at += got;
  }
  return true;
}

bool copyRange(int source, off_t from, off_t length, int target) {
  std::array<char, BUFSIZ> buffer{};
  for (const off_t end = from + length; from < end;) {
    const auto wanted = static_cast<std::size_t>(std::min<off_t>(end - from, buffer.size()));
    const ssize_t got = ::pread(source, buffer.data(), wanted, from);
    if (got <= 0 ||
        !writeAll(target, std::span<const char>(buffer.data(), static_cast<std::size_t>(got)))) {
      return false;
    }
    from += got;
  }
  return true;
}
