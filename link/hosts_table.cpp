#include "link/hosts_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string_view>

#include "base/file_io.h"
#include "base/output.h"

namespace {

constexpr std::string_view kAlias = kPlatformHostAlias;

// A pass over the old table that copies to `out` every line that does not
// hold the alias, where any character stands for a '.' of the alias. Each kept
// line is copied from the table once its end is reached. The line's last
// characters are kept in `recent`, NULs before its first: the alias starts
// with neither a NUL nor a '.', so no match takes in a line's start.
struct LineFilter {
  int table;
  int out;
  off_t position = 0;
  off_t lineStart = 0;
  bool matched = false;
  std::array<char, kAlias.size()> recent{};
};
static_assert(kAlias.front() != '\0' && kAlias.front() != '.');

bool copyLines(const LineFilter& filter, off_t from, off_t to) {
  return copyRange(filter.table, from, to - from, filter.out);
}

bool holdsAlias(const LineFilter& filter) {
  return std::equal(kAlias.begin(), kAlias.end(), filter.recent.begin(),
                    [](char pattern, char c) { return pattern == '.' || pattern == c; });
}

bool take(LineFilter& filter, char c) {
  ++filter.position;
  if (c == '\n') {
    const bool kept = filter.matched || copyLines(filter, filter.lineStart, filter.position);
    filter.lineStart = filter.position;
    filter.matched = false;
    filter.recent.fill('\0');
    return kept;
  }
  std::shift_left(filter.recent.begin(), filter.recent.end(), 1);
  filter.recent.back() = c;
  filter.matched = filter.matched || holdsAlias(filter);
  return true;
}

// A kept last line without a newline gets one, so that the new line stands alone.
bool finishLastLine(const LineFilter& filter) {
  if (filter.matched || filter.lineStart == filter.position) {
    return true;
  }
  return copyLines(filter, filter.lineStart, filter.position) &&
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

// The old table, or no descriptor for a table that does not exist yet; none
// for anything that is not a plain file.
std::optional<UniqueFd> openOldTable(const char* path) {
  UniqueFd table(::open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  if (table.valid() ? ::fstat(table.get(), &status) != 0 || !S_ISREG(status.st_mode)
                    : errno != ENOENT) {
    return std::nullopt;
  }
  return table;
}

}  // namespace

bool prepareHostEntry(FileReplacement& replacement, const char* hostsPath, const char* journal,
                      const char* addressText) {
  return replacement.prepare(hostsPath, journal, [&](int out) {
    const std::optional<UniqueFd> old = openOldTable(replacement.target());
    if (!old) {
      return false;
    }
    const bool kept = !old->valid() || copyKeptLines(old->get(), out);
    return kept && printTo(out, "%s  %s\n", addressText, kPlatformHostAlias);
  });
}
