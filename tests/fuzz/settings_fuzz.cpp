// Any bytes as the link settings file, read from a real file and checked
// against the C library's scan of the same text: the same fields convert, to
// the same values, as far as they fit (an address in 32 bits, the port in an
// int). The C library is shown each NUL byte as \x01, which it cannot take for
// the end of the text and which, like NUL, is neither white space nor a digit.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "link/settings_file.h"
#include "quiet_output.h"

namespace {

constexpr LinkSettings kUntouched{0x11111111, 0x22222222, 4242};

int settingsFile = -1;
char settingsPath[64];

// What a scan of the fields that the C library converts yields.
SettingsRead expectedRead(const std::string& text) {
  SettingsRead read{kUntouched, true};
  unsigned long long sp = 0;
  unsigned long long platform = 0;
  long long port = 0;
  const int converted =
      std::sscanf(text.c_str(), "%*s %*s %llx %*s %*s %llx %*s %lld", &sp, &platform, &port);
  constexpr auto kAddressMax = std::numeric_limits<std::uint32_t>::max();
  if (converted < 1 || sp > kAddressMax) {
    return read;
  }
  read.settings.spAddress = static_cast<std::uint32_t>(sp);
  if (converted < 2 || platform > kAddressMax) {
    return read;
  }
  read.settings.platformAddress = static_cast<std::uint32_t>(platform);
  if (converted < 3 || port < std::numeric_limits<int>::min() ||
      port > std::numeric_limits<int>::max()) {
    return read;
  }
  read.settings.agentPort = static_cast<int>(port);
  read.malformed = false;
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sendStandardOutputToNull();
  settingsFile = ::memfd_create("settings", MFD_CLOEXEC);
  std::snprintf(settingsPath, sizeof settingsPath, "/proc/self/fd/%d", settingsFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(settingsFile, 0) != 0 ||
      ::pwrite(settingsFile, data, size, 0) != static_cast<ssize_t>(size)) {
    __builtin_trap();
  }
  const SettingsRead read = readSettingsFile(settingsPath, kUntouched);

  std::string text(reinterpret_cast<const char*>(data), size);
  std::replace(text.begin(), text.end(), '\0', '\x01');
  const SettingsRead expected = expectedRead(text);
  if (read.malformed != expected.malformed ||
      read.settings.spAddress != expected.settings.spAddress ||
      read.settings.platformAddress != expected.settings.platformAddress ||
      read.settings.agentPort != expected.settings.agentPort) {
    __builtin_trap();
  }
  return 0;
}
