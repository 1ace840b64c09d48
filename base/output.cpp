#include "base/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/text_slot.h"

namespace {

// Large enough for every message of the program, a 255-character text
// included.
constexpr std::size_t kMessageCapacity = BUFSIZ;

__attribute__((format(printf, 2, 0))) bool vprintTo(int fd, const char* format, va_list args) {
  std::array<char, kMessageCapacity> message{};
  const FormattedText text = formatTextV(message, format, args);
  return writeAll(fd, std::span<const char>(message.data(), text.length));
}

}  // namespace

void keepStandardStreamsOpen() {
  for (int fd = ::open("/dev/null", O_RDWR); fd >= 0; fd = ::open("/dev/null", O_RDWR)) {
    if (fd > STDERR_FILENO) {
      ::close(fd);
      return;
    }
  }
}

// A standard stream the caller left failing has nowhere to report to.
void writeOut(std::string_view text) { static_cast<void>(writeAll(STDOUT_FILENO, text)); }

void writeErr(std::string_view text) { static_cast<void>(writeAll(STDERR_FILENO, text)); }

bool printTo(int fd, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool written = vprintTo(fd, format, args);
  va_end(args);
  return written;
}

void printOut(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintTo(STDOUT_FILENO, format, args);
  va_end(args);
}

void printErr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintTo(STDERR_FILENO, format, args);
  va_end(args);
}

void reportSystemError(const char* prefix) {
  const int error = errno;
  printErr("%s: %s\n", prefix, std::strerror(error));
}
