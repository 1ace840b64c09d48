#include "base/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/file_io.h"
#include "base/output.h"
#include "base/system_log.h"
#include "base/text_slot.h"

namespace {

constexpr std::string_view kMarker = "zarn-journal 1\n";
constexpr int kInodeDigits = 20;
constexpr int kLengthDigits = 10;
constexpr std::size_t kTrailerLength = sizeof("crc32 12345678\n") - 1;
// The new length's digits stand just before the content.
constexpr off_t kNewLengthOffset = kLengthDigits + 1;
constexpr std::size_t kHeaderLimit = PATH_MAX + 96;
constexpr off_t kJournalLimit = kHeaderLimit + 2 * kJournalContentLimit + kTrailerLength;

// CRC-32, the polynomial of zlib and Ethernet.
constexpr std::array<std::uint32_t, 256> crc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) {
      c = (c & 1U) != 0 ? 0xedb88320U ^ (c >> 1U) : c >> 1U;
    }
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrc32Table = crc32Table();

std::uint32_t crc32Add(std::uint32_t crc, std::span<const char> bytes) {
  for (const char byte : bytes) {
    crc = kCrc32Table[(crc ^ static_cast<unsigned char>(byte)) & 0xffU] ^ (crc >> 8U);
  }
  return crc;
}

std::optional<std::uint32_t> checksumOf(int file, off_t length) {
  std::array<char, BUFSIZ> buffer{};
  std::uint32_t crc = 0xffffffff;
  for (off_t at = 0; at < length;) {
    const auto chunk = static_cast<std::size_t>(std::min<off_t>(length - at, buffer.size()));
    if (!readAt(file, at, std::span(buffer.data(), chunk))) {
      return std::nullopt;
    }
    crc = crc32Add(crc, std::span(buffer.data(), chunk));
    at += static_cast<off_t>(chunk);
  }
  return ~crc;
}

// The header, read strictly: each field in its place, its digits all there.
struct HeaderScan {
  std::string_view rest;
  bool whole = true;

  void literal(std::string_view expected) {
    whole = whole && rest.starts_with(expected);
    rest.remove_prefix(whole ? expected.size() : 0);
  }

  std::uint64_t number(std::string_view name, std::size_t digits) {
    literal(name);
    std::uint64_t value = 0;
    for (std::size_t i = 0; whole && i < digits; ++i) {
      whole = i < rest.size() && rest[i] >= '0' && rest[i] <= '9';
      value = value * 10 + static_cast<unsigned>(whole ? rest[i] - '0' : 0);
    }
    rest.remove_prefix(whole ? digits : 0);
    literal("\n");
    return value;
  }

  std::string_view line(std::string_view name) {
    literal(name);
    const std::size_t end = whole ? rest.find('\n') : std::string_view::npos;
    whole = end != std::string_view::npos && end > 0;
    const std::string_view text = whole ? rest.substr(0, end) : std::string_view();
    rest.remove_prefix(whole ? end + 1 : 0);
    return text;
  }
};

// Why the journal at `path`, whose status is `status`, cannot be trusted, or
// nullptr.
const char* distrust(const char* path, const struct stat& status) {
  if (!S_ISREG(status.st_mode)) {
    return "not a regular file";
  }
  if (status.st_uid != ::geteuid()) {
    return "not owned by the user running zarn";
  }
  if (status.st_nlink != 1) {
    return "more than one link";
  }
  if (!directoryIsPrivate(path)) {
    return "its directory can be written by others";
  }
  return status.st_size > kJournalLimit ? "too large" : nullptr;
}

// Reads the header and checks the lengths and the checksum; fills `found`
// or sets its refusal.
void readWholeJournal(FoundJournal& found, off_t size) {
  std::array<char, kHeaderLimit> header{};
  const ssize_t got = ::pread(found.file.get(), header.data(), header.size(), 0);
  HeaderScan scan{
      std::string_view(header.data(), static_cast<std::size_t>(std::max<ssize_t>(got, 0)))};
  scan.literal(kMarker);
  const std::string_view target = scan.line("target ");
  found.inode = static_cast<ino_t>(scan.number("inode ", kInodeDigits));
  const auto oldLength = static_cast<off_t>(scan.number("old ", kLengthDigits));
  const auto newLength = static_cast<off_t>(scan.number("new ", kLengthDigits));
  if (!scan.whole || target.size() >= found.target.size() || target.find('\0') != target.npos) {
    found.refusal = "not a zarn journal";
    return;
  }
  const auto start = static_cast<off_t>(scan.rest.data() - header.data());
  found.layout = {{start, oldLength}, {start + oldLength, newLength}};
  const off_t end = start + oldLength + newLength;
  TextSlot trailer{};
  TextSlot expected{};
  const std::optional<std::uint32_t> crc =
      oldLength <= kJournalContentLimit && newLength <= kJournalContentLimit &&
              size == end + static_cast<off_t>(kTrailerLength) &&
              readAt(found.file.get(), end, std::span(trailer.data(), kTrailerLength))
          ? checksumOf(found.file.get(), end)
          : std::nullopt;
  if (!crc || !formatText(expected, "crc32 %08x\n", static_cast<unsigned>(*crc)).complete ||
      trailer != expected) {
    found.refusal = "damaged";
    return;
  }
  target.copy(found.target.data(), target.size());
}

}  // namespace

std::optional<ContentSpan> startJournal(int journal, const char* targetPath, int target) {
  struct stat status {};
  std::array<char, kHeaderLimit> header{};
  if (::fstat(target, &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size > kJournalContentLimit || std::strchr(targetPath, '\n') != nullptr) {
    return std::nullopt;
  }
  const FormattedText written =
      formatText(header, "%starget %s\ninode %0*llu\nold %0*lld\nnew %0*d\n", kMarker.data(),
                 targetPath, kInodeDigits, static_cast<unsigned long long>(status.st_ino),
                 kLengthDigits, static_cast<long long>(status.st_size), kLengthDigits, 0);
  if (!written.complete || !writeAll(journal, std::span(header.data(), written.length)) ||
      !copyRange(target, 0, status.st_size, journal)) {
    return std::nullopt;
  }
  return ContentSpan{static_cast<off_t>(written.length), status.st_size};
}

std::optional<JournalLayout> sealJournal(int journal, ContentSpan old) {
  struct stat status {};
  TextSlot length{};
  TextSlot trailer{};
  if (::fstat(journal, &status) != 0) {
    return std::nullopt;
  }
  const ContentSpan replacement{old.start + old.length, status.st_size - old.start - old.length};
  if (replacement.length > kJournalContentLimit ||
      !formatText(length, "%0*lld", kLengthDigits, static_cast<long long>(replacement.length))
           .complete ||
      ::pwrite(journal, length.data(), kLengthDigits, old.start - kNewLengthOffset) !=
          kLengthDigits) {
    return std::nullopt;
  }
  const std::optional<std::uint32_t> crc = checksumOf(journal, status.st_size);
  if (!crc || !formatText(trailer, "crc32 %08x\n", static_cast<unsigned>(*crc)).complete ||
      ::pwrite(journal, trailer.data(), kTrailerLength, status.st_size) !=
          static_cast<ssize_t>(kTrailerLength)) {
    return std::nullopt;
  }
  return JournalLayout{old, replacement};
}

FoundJournal findJournal(const char* path) {
  FoundJournal found;
  struct stat named {};
  if (::lstat(path, &named) != 0) {
    found.refusal = errno == ENOENT ? nullptr : "cannot be examined";
    return found;
  }
  found.refusal = distrust(path, named);
  if (found.refusal != nullptr) {
    return found;
  }
  // Opened without following a link or waiting on a FIFO that took the
  // name since it was examined; it must be the file examined.
  found.file = UniqueFd(::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat opened {};
  if (!found.file.valid() || ::fstat(found.file.get(), &opened) != 0 ||
      opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
    found.refusal = "replaced while being read";
  } else {
    readWholeJournal(found, opened.st_size);
  }
  if (found.refusal != nullptr) {
    found.file.reset();
  }
  return found;
}

TargetState compareWithJournal(int target, int journal, const JournalLayout& layout) {
  struct stat status {};
  const off_t oldLength = layout.old.length;
  const off_t newLength = layout.replacement.length;
  if (::fstat(target, &status) != 0 || status.st_size < std::min(oldLength, newLength) ||
      status.st_size > std::max(oldLength, newLength)) {
    return TargetState::kForeign;
  }
  bool asNew = status.st_size == newLength;
  constexpr std::size_t kChunk = 1024;
  std::array<char, kChunk> now{};
  std::array<char, kChunk> old{};
  std::array<char, kChunk> replacement{};
  // How many of the `count` bytes from `at` lie within `length`.
  const auto within = [](off_t length, off_t at, std::size_t count) {
    return static_cast<std::size_t>(std::clamp<off_t>(length - at, 0, static_cast<off_t>(count)));
  };
  for (off_t at = 0; at < status.st_size; at += static_cast<off_t>(kChunk)) {
    const std::size_t count = within(status.st_size, at, kChunk);
    const std::size_t oldCount = within(oldLength, at, count);
    const std::size_t newCount = within(newLength, at, count);
    if (!readAt(target, at, std::span(now.data(), count)) ||
        !readAt(journal, layout.old.start + at, std::span(old.data(), oldCount)) ||
        !readAt(journal, layout.replacement.start + at, std::span(replacement.data(), newCount))) {
      return TargetState::kForeign;
    }
    for (std::size_t i = 0; i < count; ++i) {
      const bool likeOld = i < oldCount && now[i] == old[i];
      const bool likeNew = i < newCount && now[i] == replacement[i];
      if (!likeOld && !likeNew) {
        return TargetState::kForeign;
      }
      asNew = asNew && likeNew;
    }
  }
  return asNew ? TargetState::kNew : TargetState::kUnfinished;
}

void setJournalAside(const char* path, const char* target, const char* reason) {
  PathText aside{};
  if (formatText(aside, "%s.set-aside", path).complete) {
    clearPath(aside.data());
    if (::rename(path, aside.data()) == 0) {
      // Undone by a power cut, the move is made again by the next run.
      static_cast<void>(syncDirectoryOf(path));
      printErr("ZARN: journal %s for %s set aside as %s: %s\n", path, target, aside.data(), reason);
      logChange(LogLevel::kWarning, "journal %s for %s set aside as %s: %s", path, target,
                aside.data(), reason);
      return;
    }
  }
  const int error = errno;
  printErr("ZARN: journal %s for %s cannot be set aside (%s): %s\n", path, target, reason,
           std::strerror(error));
  logChange(LogLevel::kError, "journal %s for %s cannot be set aside (%s): %s", path, target,
            reason, std::strerror(error));
}
