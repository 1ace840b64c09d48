#include "base/system_log.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <span>
#include <string_view>

#include "base/text_slot.h"
#include "base/unique_fd.h"

namespace {

constexpr char kLogSocket[] = "/dev/log";
constexpr int kFacilityDaemon = 3 << 3;

using LogLine = std::array<char, 1024>;

// Prepared for the guard timer's handler; empty when there is none.
LogLine timeoutLine{};
std::size_t timeoutLength = 0;

// The name of the process that started this one, as the kernel keeps it: at
// most 15 bytes, chosen by whoever started it, so every byte that is not
// printable ASCII, and the backslash, is escaped.
TextSlot parentName() {
  TextSlot name{};
  TextSlot path{};
  std::array<char, 16> raw{};  // the kernel's longest name and its newline
  formatText(path, "/proc/%d/comm", static_cast<int>(::getppid()));
  const UniqueFd comm(::open(path.data(), O_RDONLY | O_CLOEXEC));
  const ssize_t got = comm.valid() ? ::read(comm.get(), raw.data(), raw.size()) : -1;
  // The kernel ends the name with a newline of its own.
  const auto length = static_cast<std::size_t>(std::max<ssize_t>(got - 1, 0));
  std::size_t at = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(raw[i]);
    const bool plain = byte > 0x20 && byte < 0x7f && byte != '\\';
    at += formatText(std::span(name).subspan(at), plain ? "%c" : "\\x%02x", byte).length;
  }
  if (at == 0) {
    formatText(name, "?");
  }
  return name;
}

// "<PRI>zarn[PID]: MESSAGE (uid N, parent NAME)", without a time stamp,
// which the log daemon adds.
std::size_t formatLine(LogLine& line, LogLevel level, const char* message) {
  return formatText(line, "<%d>zarn[%d]: %s (uid %u, parent %s)",
                    kFacilityDaemon | static_cast<int>(level), static_cast<int>(::getpid()),
                    message, static_cast<unsigned>(::getuid()), parentName().data())
      .length;
}

// Sends without waiting: a full or missing log socket loses the line.
void send(std::span<const char> line) {
  const UniqueFd log(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string_view(kLogSocket).copy(address.sun_path, sizeof address.sun_path - 1);
  if (log.valid()) {
    ::sendto(log.get(), line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
}

}  // namespace

void logChange(LogLevel level, const char* format, ...) {
  LogLine message{};
  va_list args;
  va_start(args, format);
  formatTextV(message, format, args);
  va_end(args);
  LogLine line{};
  send(std::span(line.data(), formatLine(line, level, message.data())));
}

void prepareTimeoutLogLine(const char* message) {
  timeoutLength = 0;
  LogLine line{};
  const std::size_t length = formatLine(line, LogLevel::kError, message);
  timeoutLine = line;
  timeoutLength = length;
}

void sendTimeoutLogLine() {
  if (timeoutLength > 0) {
    send(std::span(timeoutLine.data(), timeoutLength));
  }
}
