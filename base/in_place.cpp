#include "base/in_place.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <optional>

#include "base/held_signals.h"
#include "base/number.h"
#include "base/output.h"
#include "base/temporary_file.h"
#include "base/text_slot.h"

namespace {

struct Span {
  off_t start;
  off_t length;
};

struct JournalLayout {
  Span old;
  Span replacement;
};

// Where the two contents lie in a journal; empty for a file that is not a
// whole journal.
std::optional<JournalLayout> readLayout(int journal) {
  std::array<char, 24> header{};
  struct stat status {};
  const ssize_t got = ::pread(journal, header.data(), header.size() - 1, 0);
  if (got <= 0 || ::fstat(journal, &status) != 0) {
    return std::nullopt;
  }
  const auto end = header.begin() + got;
  const auto newline = std::find(header.begin(), end, '\n');
  if (newline == end) {
    return std::nullopt;
  }
  *newline = '\0';
  const std::optional<int> oldLength = scanInt(header.data());
  const off_t oldStart = newline - header.begin() + 1;
  if (!oldLength || *oldLength < 0 || oldStart + *oldLength > status.st_size) {
    return std::nullopt;
  }
  const off_t newStart = oldStart + *oldLength;
  return JournalLayout{{oldStart, *oldLength}, {newStart, status.st_size - newStart}};
}

// Room reserved without changing the visible size, so that a full disk is
// found before anything changes. Where the file system cannot reserve (ext2,
// JFFS2, UBIFS), a full disk is met while writing and the rollback undoes it.
bool reserve(int file, off_t length) {
  return ::fallocate(file, FALLOC_FL_KEEP_SIZE, 0, length) == 0 || errno == EOPNOTSUPP ||
         errno == ENOSYS;
}

// Makes `file` hold the bytes of `content` in `source`. They are durable
// before a longer old content is cut, so that a power loss cannot leave the
// file shorter than both.
bool overwrite(int file, int source, Span content) {
  struct stat old {};
  if (::fstat(file, &old) != 0 ||
      (content.length > old.st_size && !reserve(file, content.length)) ||
      ::lseek(file, 0, SEEK_SET) != 0 || !copyRange(source, content.start, content.length, file) ||
      ::fsync(file) != 0) {
    return false;
  }
  return content.length >= old.st_size ||
         (::ftruncate(file, content.length) == 0 && ::fsync(file) == 0);
}

}  // namespace

UniqueFd startRewrite(InPlaceRewrite& rewrite, const char* target) {
  rewrite.target = UniqueFd(::open(target, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  struct stat old {};
  if (!rewrite.target.valid() || ::fstat(rewrite.target.get(), &old) != 0 ||
      !S_ISREG(old.st_mode) || old.st_size > INT_MAX ||
      !formatText(rewrite.journalTemporary, "%s.zarn-new", rewrite.journal).complete) {
    return UniqueFd();
  }
  UniqueFd journal = createTemporary(rewrite.journalTemporary.data());
  if (!journal.valid() || !printTo(journal.get(), "%lld\n", static_cast<long long>(old.st_size)) ||
      !copyRange(rewrite.target.get(), 0, old.st_size, journal.get())) {
    abandonRewrite(rewrite);
    return UniqueFd();
  }
  return journal;
}

bool finishRewrite(InPlaceRewrite& rewrite, UniqueFd& journal) {
  const HeldSignals untilRewritten;
  if (!renameDurably(journal, rewrite.journalTemporary.data(), rewrite.journal)) {
    abandonRewrite(rewrite);
    return false;
  }
  const UniqueFd committed(::open(rewrite.journal, O_RDONLY | O_CLOEXEC));
  const auto layout = committed.valid() ? readLayout(committed.get()) : std::nullopt;
  const int target = rewrite.target.get();
  const bool rewritten = layout && overwrite(target, committed.get(), layout->replacement);
  // A journal left behind would be completed by the next run: it stays only
  // when the old content could not be put back either.
  if (rewritten || !layout || overwrite(target, committed.get(), layout->old)) {
    removeDurably(rewrite.journal);
  }
  return rewritten;
}

void abandonRewrite(InPlaceRewrite& rewrite) {
  if (rewrite.journalTemporary[0] != '\0') {
    ::unlink(rewrite.journalTemporary.data());
  }
}

bool completeInterruptedRewrite(const char* target, const char* journal) {
  const UniqueFd interrupted(::open(journal, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!interrupted.valid()) {
    return errno == ENOENT;
  }
  const HeldSignals untilCompleted;
  // A journal that is not whole was never committed; a target that is gone
  // has nothing left to complete.
  if (const auto layout = readLayout(interrupted.get())) {
    const UniqueFd file(::open(target, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (file.valid() ? !overwrite(file.get(), interrupted.get(), layout->replacement)
                     : errno != ENOENT) {
      return false;
    }
  }
  removeDurably(journal);
  return true;
}
