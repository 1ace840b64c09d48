#include "link/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <limits>

#include "base/address.h"
#include "base/number.h"
#include "base/output.h"
#include "base/trace.h"
#include "base/unique_fd.h"
#include "link/sp_paths.h"

namespace {

// The file is read as the C library's stream scan of
// "%s %s %lx %s %s %lx %s %d" reads it, however long it is, but without that
// scan: "%lx" converts 64 bits on the build machines and 32 on the SP, and
// "%d" has undefined behaviour on overflow.

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
    if (got <= 0) {
      return kEnd;
    }
    in.next = 0;
    in.end = static_cast<std::size_t>(got);
  }
  return static_cast<unsigned char>(in.chunk[in.next]);
}

void takeByte(ByteStream& in) { ++in.next; }

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

// A "%x" or "%d" field: an optional sign, for base 16 an optional "0x" or "0X"
// after a leading 0, then digits. As in the C library, "0x" followed by no hex
// digit is the number 0 with the "x" taken.
NumberReading scanNumber(ByteStream& in, unsigned base) {
  skipSpace(in);
  NumberReading number;
  if (peekByte(in) == '+' || peekByte(in) == '-') {
    number.negative = peekByte(in) == '-';
    takeByte(in);
  }
  if (base == 16 && peekByte(in) == '0') {
    takeByte(in);
    addDigit(number, 0, base);
    if (peekByte(in) == 'x' || peekByte(in) == 'X') {
      takeByte(in);
    }
  }
  while (const auto digit = digitValue(peekByte(in), base)) {
    takeByte(in);
    addDigit(number, *digit, base);
  }
  return number;
}

// A keyword, an address text and the address number, which is what the C
// library's 64-bit unsigned conversion gives (the largest value on overflow,
// negation modulo 2^64 after a '-') and must fit 32 bits.
std::optional<std::uint32_t> scanAddressField(ByteStream& in) {
  if (!skipField(in) || !skipField(in)) {
    return std::nullopt;
  }
  const NumberReading number = scanNumber(in, 16);
  const std::uint64_t value = number.overflowed ? std::numeric_limits<std::uint64_t>::max()
                              : number.negative ? 0 - number.magnitude
                                                : number.magnitude;
  if (!number.anyDigit || value > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

// A keyword and the port, which must fit an int.
std::optional<int> scanPortField(ByteStream& in) {
  const auto port =
      skipField(in) ? valueWithin(scanNumber(in, 10), INT_MIN, INT_MAX) : std::nullopt;
  return port ? std::optional<int>(static_cast<int>(*port)) : std::nullopt;
}

// Scans the eight fields of the file open at `file` over `start`.
SettingsRead scanSettingsFields(int file, const LinkSettings& start) {
  ByteStream in{file, {}, 0, 0};
  SettingsRead read{start, true};
  const auto sp = scanAddressField(in);
  if (!sp) {
    return read;
  }
  read.settings.spAddress = *sp;
  const auto platform = scanAddressField(in);
  if (!platform) {
    return read;
  }
  read.settings.platformAddress = *platform;
  const auto port = scanPortField(in);
  if (!port) {
    return read;
  }
  read.settings.agentPort = *port;
  read.malformed = false;
  return read;
}

void traceSettings(const SettingsRead& read) {
  if (!tracing()) {
    return;
  }
  trace("settings %s: %s: sp %s, platform %s, port %d", kSettingsPath,
        !read.present    ? "none, built-in"
        : read.malformed ? "malformed, built-in from the first unreadable field"
                         : "read",
        addressText(addressFromNumber(read.settings.spAddress)).data(),
        addressText(addressFromNumber(read.settings.platformAddress)).data(),
        read.settings.agentPort);
}

}  // namespace

SettingsRead readSettingsFile(const char* path, const LinkSettings& start) {
  // Not blocking, so that a FIFO or a device cannot hold the run up.
  const UniqueFd file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) {
    return {start, false, false};
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return {start, true};
  }
  return scanSettingsFields(file.get(), start);
}

LinkSettings loadStartupSettings() {
  const SettingsRead read = readSettingsFile(kSettingsPath, kDefaultLinkSettings);
  if (read.malformed) {
    printOut("<error>%s invalid file format</error>\n", kSettingsPath);
  }
  traceSettings(read);
  return read.settings;
}

std::optional<LinkSettings> readLinkSettings() {
  const SettingsRead read = readSettingsFile(kSettingsPath, kDefaultLinkSettings);
  if (read.malformed) {
    printOut("<error>%s invalid format</error>\n", kSettingsPath);
    return std::nullopt;
  }
  return read.settings;
}

std::string_view formatLinkSettings(SettingsText& out, const char* platformText, const char* spText,
                                    int port) {
  // The texts are plain dotted quads by now; anything else would be written as 0.
  const auto numberOf = [](const char* text) {
    return addressNumber(parseAddress(text).value_or(in_addr{}));
  };
  const FormattedText text =
      formatText(out, "sp %s 0x%08" PRIx32 "\np0 %s 0x%08" PRIx32 "\nzarn %d\n", spText,
                 numberOf(spText), platformText, numberOf(platformText), port);
  return {out.data(), text.length};
}
