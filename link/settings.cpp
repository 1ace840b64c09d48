#include "link/settings.h"

#include <fcntl.h>
#include <sys/stat.h>

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

// A well-formed file is under a hundred bytes; longer ones are read in turn.
constexpr std::size_t kChunkBytes = BUFSIZ;
constexpr int kEnd = -1;

// The file's bytes in order, read a chunk at a time.
struct ByteStream {
  int fd;
  std::array<char, kChunkBytes> chunk;
  std::size_t next;
  std::size_t end;
};

// The next byte, not taken, or kEnd after the last one; a read error ends the
// text as the end of the file does.
int peekByte(ByteStream& in) {
  if (in.next == in.end) {
    const ssize_t got = ::read(in.fd, in.chunk.data(), in.chunk.size());
    in.next = 0;
    in.end = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (in.end == 0) {
      return kEnd;
    }
  }
  return static_cast<unsigned char>(in.chunk[in.next]);
}

void takeByte(ByteStream& in) { ++in.next; }

// White space in the C locale; NUL is not.
constexpr bool isSpace(int byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

void skipSpace(ByteStream& in) {
  while (isSpace(peekByte(in))) {
    takeByte(in);
  }
}

// A "%s" field: a run of bytes other than white space, of any length, skipped.
bool skipField(ByteStream& in) {
  skipSpace(in);
  if (peekByte(in) == kEnd) {
    return false;
  }
  while (peekByte(in) != kEnd && !isSpace(peekByte(in))) {
    takeByte(in);
  }
  return true;
}

constexpr int digitValue(int byte, unsigned base) {
  int value = -1;
  if (byte >= '0' && byte <= '9') {
    value = byte - '0';
  } else if (byte >= 'a' && byte <= 'f') {
    value = byte - 'a' + 10;
  } else if (byte >= 'A' && byte <= 'F') {
    value = byte - 'A' + 10;
  }
  return value < static_cast<int>(base) ? value : -1;
}

struct ScannedNumber {
  bool negative;
  bool overflowed;  // the magnitude does not fit 64 bits
  std::uint64_t magnitude;
};

// A "%x" or "%d" field: an optional sign, for base 16 an optional "0x" or "0X"
// after a leading 0, then digits. As in the C library, "0x" followed by no hex
// digit is the number 0 with the "x" taken.
bool scanNumber(ByteStream& in, unsigned base, ScannedNumber& number) {
  skipSpace(in);
  number = {};
  if (peekByte(in) == '+' || peekByte(in) == '-') {
    number.negative = peekByte(in) == '-';
    takeByte(in);
  }
  bool anyDigit = false;
  if (base == 16 && peekByte(in) == '0') {
    takeByte(in);
    anyDigit = true;
    if (peekByte(in) == 'x' || peekByte(in) == 'X') {
      takeByte(in);
    }
  }
  for (int digit = digitValue(peekByte(in), base); digit >= 0;
       digit = digitValue(peekByte(in), base)) {
    takeByte(in);
    anyDigit = true;
    const auto value = static_cast<std::uint64_t>(digit);
    if (number.magnitude > (std::numeric_limits<std::uint64_t>::max() - value) / base) {
      number.overflowed = true;
    } else {
      number.magnitude = number.magnitude * base + value;
    }
  }
  return anyDigit;
}

// An address number is what the C library's 64-bit unsigned conversion gives
// (the largest value on overflow, negation modulo 2^64 after a '-'), and must
// fit 32 bits.
bool scanAddress(ByteStream& in, std::uint32_t& address) {
  ScannedNumber number{};
  if (!scanNumber(in, 16, number)) {
    return false;
  }
  const std::uint64_t value = number.overflowed ? std::numeric_limits<std::uint64_t>::max()
                              : number.negative ? 0 - number.magnitude
                                                : number.magnitude;
  if (value > std::numeric_limits<std::uint32_t>::max()) {
    return false;
  }
  address = static_cast<std::uint32_t>(value);
  return true;
}

// The port must fit an int.
bool scanPort(ByteStream& in, int& port) {
  ScannedNumber number{};
  if (!scanNumber(in, 10, number)) {
    return false;
  }
  const std::uint64_t limit =
      std::uint64_t{std::numeric_limits<int>::max()} + (number.negative ? 1U : 0U);
  if (number.overflowed || number.magnitude > limit) {
    return false;
  }
  const auto magnitude = static_cast<std::int64_t>(number.magnitude);
  port = static_cast<int>(number.negative ? -magnitude : magnitude);
  return true;
}

bool scanFields(ByteStream& in, LinkSettings& settings) {
  return skipField(in) && skipField(in) && scanAddress(in, settings.spAddress) && skipField(in) &&
         skipField(in) && scanAddress(in, settings.platformAddress) && skipField(in) &&
         scanPort(in, settings.agentPort);
}

}  // namespace

SettingsFile readSettingsFile(const char* path, LinkSettings& settings) {
  // Not blocking, so that a FIFO or a device cannot hold the run up.
  const UniqueFd file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) {
    return SettingsFile::kMissing;
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return SettingsFile::kMalformed;
  }
  ByteStream in{file.get(), {}, 0, 0};
  return scanFields(in, settings) ? SettingsFile::kRead : SettingsFile::kMalformed;
}

LinkSettings loadStartupSettings() {
  LinkSettings settings = kDefaultLinkSettings;
  if (readSettingsFile(kSettingsPath, settings) == SettingsFile::kMalformed) {
    printOut("<error>%s invalid file format</error>\n", kSettingsPath);
  }
  return settings;
}

int readLinkSettings(LinkSettings& settings) {
  LinkSettings read = kDefaultLinkSettings;
  if (readSettingsFile(kSettingsPath, read) == SettingsFile::kMalformed) {
    settings = kDefaultLinkSettings;
    printOut("<error>%s invalid format</error>\n", kSettingsPath);
    return kResultProtocol;
  }
  settings = read;
  return kResultOk;
}

std::string_view formatLinkSettings(SettingsText& out, const char* platformText, const char* spText,
                                    const char* portText) {
  // The texts are plain dotted quads by now; anything else would be written as 0.
  const auto numberOf = [](const char* text) {
    return addressNumber(parseAddress(text).value_or(in_addr{}));
  };
  const FormattedText text =
      formatText(out, "sp %s 0x%08" PRIx32 "\np0 %s 0x%08" PRIx32 "\nzarn %s\n", spText,
                 numberOf(spText), platformText, numberOf(platformText), portText);
  return {out.data(), text.length};
}

int getZarnPort() {
  LinkSettings settings{};
  if (const int result = readLinkSettings(settings); result != kResultOk) {
    return result;
  }
  printOut("%d", static_cast<int>(static_cast<std::uint16_t>(settings.agentPort)));
  return kResultOk;
}
