#include "link/hosts_table.h"

#include <fcntl.h>
#include <sys/param.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "base/file_replace.h"
#include "base/output.h"
#include "base/text_slot.h"

namespace {

constexpr std::string_view kAlias = kPlatformHostAlias;

// Follows the symbolic links from `path` to the file they end at, which need
// not exist yet.
bool resolveLinks(const char* path, PathText& resolved) {
  if (!formatText(resolved, "%s", path).complete) {
    return false;
  }
  for (int hop = 0; hop <= MAXSYMLINKS; ++hop) {
    PathText link{};
    const ssize_t length = ::readlink(resolved.data(), link.data(), link.size() - 1);
    if (length < 0) {
      return errno == EINVAL || errno == ENOENT;
    }
    link[static_cast<std::size_t>(length)] = '\0';
    const std::string_view current(resolved.data());
    const auto directoryLength = static_cast<int>(current.rfind('/') + 1);
    PathText next{};
    const bool fits =
        link[0] == '/'
            ? formatText(next, "%s", link.data()).complete
            : formatText(next, "%.*s%s", directoryLength, resolved.data(), link.data()).complete;
    if (!fits) {
      return false;
    }
    resolved = next;
  }
  return false;
}

// A pass over the old table that copies to `out` every line that does not
// hold the alias, where any character stands for a '.' of the alias. Each kept
// line is copied from the table once its end is reached.
struct LineFilter {
  int table;
  int out;
  off_t position = 0;
  off_t lineStart = 0;
  bool matched = false;
  std::array<char, kAlias.size()> recent{};
  std::size_t recentLength = 0;
};

bool copyRange(const LineFilter& filter, off_t from, off_t to) {
  std::array<char, BUFSIZ> buffer{};
  while (from < to) {
    const auto wanted = static_cast<std::size_t>(std::min<off_t>(to - from, buffer.size()));
    const ssize_t got = ::pread(filter.table, buffer.data(), wanted, from);
    if (got <= 0 || !writeAll(filter.out, std::span<const char>(buffer.data(),
                                                                static_cast<std::size_t>(got)))) {
      return false;
    }
    from += got;
  }
  return true;
}

bool holdsAlias(const LineFilter& filter) {
  return filter.recentLength == filter.recent.size() &&
         std::equal(kAlias.begin(), kAlias.end(), filter.recent.begin(),
                    [](char pattern, char c) { return pattern == '.' || pattern == c; });
}

bool take(LineFilter& filter, char c) {
  ++filter.position;
  if (c == '\n') {
    const bool kept = filter.matched || copyRange(filter, filter.lineStart, filter.position);
    filter.lineStart = filter.position;
    filter.matched = false;
    filter.recentLength = 0;
    return kept;
  }
  std::shift_left(filter.recent.begin(), filter.recent.end(), 1);
  filter.recent.back() = c;
  filter.recentLength = std::min(filter.recentLength + 1, filter.recent.size());
  filter.matched = filter.matched || holdsAlias(filter);
  return true;
}

// A kept last line without a newline gets one, so that the new line stands alone.
bool finishLastLine(const LineFilter& filter) {
  if (filter.matched || filter.lineStart == filter.position) {
    return true;
  }
  return copyRange(filter, filter.lineStart, filter.position) &&
         writeAll(filter.out, std::string_view("\n"));
}

bool copyKeptLines(int table, int out) {
  LineFilter filter{table, out};
  std::array<char, BUFSIZ> buffer{};
  for (;;) {
    const ssize_t got = ::read(table, buffer.data(), buffer.size());
    if (got <= 0) {
      return got == 0 && finishLastLine(filter);
    }
    for (const char c : std::string_view(buffer.data(), static_cast<std::size_t>(got))) {
      if (!take(filter, c)) {
        return false;
      }
    }
  }
}

// The old table, or no descriptor for a table that does not exist yet; false
// for anything that is not a plain file.
bool openOldTable(const char* path, UniqueFd& table) {
  table = UniqueFd(::open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!table.valid()) {
    return errno == ENOENT;
  }
  struct stat status {};
  return ::fstat(table.get(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

bool setPlatformHostEntry(const char* hostsPath, const char* addressText) {
  PathText path{};
  UniqueFd old;
  if (!resolveLinks(hostsPath, path) || !openOldTable(path.data(), old)) {
    return false;
  }
  return replaceFile(path.data(), [&](int out) {
    const bool kept = !old.valid() || copyKeptLines(old.get(), out);
    return kept && printTo(out, "%s  %s\n", addressText, kPlatformHostAlias);
  });
}
