#include "link/settings.h"

#include <fcntl.h>

#include <array>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "base/address.h"
#include "base/output.h"
#include "base/result.h"
#include "base/text_slot.h"
#include "base/unique_fd.h"

namespace {

// A well-formed file is under a hundred bytes; only this much is scanned.
constexpr std::size_t kScannedBytes = 4096;

constexpr bool fitsAddress(unsigned long long number) {
  return number <= std::numeric_limits<std::uint32_t>::max();
}

constexpr bool fitsPort(long long port) {
  return port >= std::numeric_limits<int>::min() && port <= std::numeric_limits<int>::max();
}

enum class FileRead { kMissing, kRead };

// The file's first kScannedBytes - 1 bytes, NUL-terminated, and how many
// there are.
FileRead readSettingsFile(std::array<char, kScannedBytes>& text, std::size_t& length) {
  const UniqueFd file(::open(kSettingsPath, O_RDONLY | O_CLOEXEC));
  if (!file.valid()) {
    return FileRead::kMissing;
  }
  length = 0;
  while (length < text.size() - 1) {
    const ssize_t got = ::read(file.get(), text.data() + length, text.size() - 1 - length);
    if (got <= 0) {
      break;
    }
    length += static_cast<std::size_t>(got);
  }
  text[length] = '\0';
  return FileRead::kRead;
}

}  // namespace

bool scanLinkSettings(std::string_view text, LinkSettings& settings) {
  std::array<char, kScannedBytes> copy{};
  if (text.size() >= copy.size()) {
    text = text.substr(0, copy.size() - 1);
  }
  text.copy(copy.data(), text.size());

  // Wide conversions, so that an oversized number is seen as such on every
  // machine; the texts between the numbers are skipped unread.
  unsigned long long spNumber = 0;
  unsigned long long platformNumber = 0;
  long long port = 0;
  int consumed = 0;
  // The conversion count and every value's range are checked below.
  // NOLINTNEXTLINE(cert-err34-c)
  const int converted = std::sscanf(copy.data(), "%*s %*s %llx %*s %*s %llx %*s %lld%n", &spNumber,
                                    &platformNumber, &port, &consumed);
  if (converted >= 1 && fitsAddress(spNumber)) {
    settings.spAddress = static_cast<std::uint32_t>(spNumber);
  } else {
    return false;
  }
  if (converted >= 2 && fitsAddress(platformNumber)) {
    settings.platformAddress = static_cast<std::uint32_t>(platformNumber);
  } else {
    return false;
  }
  // A port that runs to the end of a cut text may have lost digits.
  const bool portMayBeCut = static_cast<std::size_t>(consumed) >= copy.size() - 1;
  if (converted == 3 && fitsPort(port) && !portMayBeCut) {
    settings.agentPort = static_cast<int>(port);
    return true;
  }
  return false;
}

LinkSettings loadStartupSettings() {
  LinkSettings settings = kDefaultLinkSettings;
  std::array<char, kScannedBytes> text{};
  std::size_t length = 0;
  if (readSettingsFile(text, length) == FileRead::kMissing) {
    return settings;
  }
  if (!scanLinkSettings(std::string_view(text.data(), length), settings)) {
    printOut("<error>%s invalid file format</error>\n", kSettingsPath);
  }
  return settings;
}

int readLinkSettings(LinkSettings& settings) {
  settings = kDefaultLinkSettings;
  std::array<char, kScannedBytes> text{};
  std::size_t length = 0;
  if (readSettingsFile(text, length) == FileRead::kMissing) {
    return kResultOk;
  }
  LinkSettings read = kDefaultLinkSettings;
  if (!scanLinkSettings(std::string_view(text.data(), length), read)) {
    printOut("<error>%s invalid format</error>\n", kSettingsPath);
    return kResultProtocol;
  }
  settings = read;
  return kResultOk;
}

std::size_t formatLinkSettings(std::span<char> out, const char* platformText, const char* spText,
                               const char* portText) {
  const auto numberOf = [](const char* text) {
    const auto address = parseAddress(text);
    return address ? addressNumber(*address) : std::uint32_t{0};
  };
  const FormattedText text =
      formatText(out, "sp %s 0x%08" PRIx32 "\np0 %s 0x%08" PRIx32 "\nzarn %s\n", spText,
                 numberOf(spText), platformText, numberOf(platformText), portText);
  return text.complete ? text.length : 0;
}

int getZarnPort() {
  LinkSettings settings{};
  if (const int result = readLinkSettings(settings); result != kResultOk) {
    return result;
  }
  printOut("%d", static_cast<int>(static_cast<std::uint16_t>(settings.agentPort)));
  return kResultOk;
}
