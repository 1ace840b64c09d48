#include "base/in_place.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/held_signals.h"
#include "base/output.h"
#include "base/system_log.h"

namespace {

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
bool overwrite(int file, int source, ContentSpan content) {
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

// The journal becomes durable under its name before the target changes:
// every step is checked, and a journal whose rename may not last is removed.
bool commitJournal(const char* temporary, const char* journalPath, int journal) {
  if (::fsync(journal) != 0 || ::rename(temporary, journalPath) != 0) {
    return false;
  }
  if (syncDirectoryOf(journalPath)) {
    return true;
  }
  ::unlink(journalPath);
  return false;
}

void reportIncomplete(const char* target, const char* journalPath) {
  printErr("ZARN: unable to complete the interrupted save of %s from %s\n", target, journalPath);
  logChange(LogLevel::kError, "unable to complete the interrupted save of %s from %s", target,
            journalPath);
}

// Applies a journal that fits `target`, open for reading and writing.
bool replay(const char* target, const char* journalPath, int file, const FoundJournal& journal) {
  switch (compareWithJournal(file, journal.file.get(), journal.layout)) {
    case TargetState::kForeign:
      setJournalAside(journalPath, target, "the file was changed since");
      return true;
    case TargetState::kNew: removeDurably(journalPath); return true;
    case TargetState::kUnfinished: break;
  }
  if (!overwrite(file, journal.file.get(), journal.layout.replacement)) {
    reportIncomplete(target, journalPath);
    return false;
  }
  removeDurably(journalPath);
  printErr("ZARN: completed the interrupted save of %s from %s\n", target, journalPath);
  logChange(LogLevel::kWarning, "completed the interrupted save of %s from %s", target,
            journalPath);
  return true;
}

}  // namespace

InPlaceRewrite::~InPlaceRewrite() {
  if (journalTemporary_[0] != '\0') {
    ::unlink(journalTemporary_.data());
  }
}

UniqueFd InPlaceRewrite::start(const char* target, const char* journal) {
  journal_ = journal;
  target_ = UniqueFd(::open(target, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  const std::optional<PathText> temporary = temporaryBeside(journal);
  if (!target_.valid() || !directoryIsPrivate(journal) || !temporary) {
    return UniqueFd();
  }
  journalTemporary_ = *temporary;
  UniqueFd file = createAfresh(journalTemporary_.data());
  const std::optional<ContentSpan> old =
      file.valid() ? startJournal(file.get(), target, target_.get()) : std::nullopt;
  if (!old) {
    return UniqueFd();
  }
  old_ = *old;
  return file;
}

bool InPlaceRewrite::finish(UniqueFd& journal) {
  const HeldSignals untilRewritten;
  const std::optional<JournalLayout> layout = sealJournal(journal.get(), old_);
  if (!layout || !commitJournal(journalTemporary_.data(), journal_, journal.get())) {
    return false;
  }
  journalTemporary_[0] = '\0';
  const int target = target_.get();
  const bool rewritten = overwrite(target, journal.get(), layout->replacement);
  // A journal left behind would be completed by the next run: it stays only
  // when the old content could not be put back either.
  if (rewritten || overwrite(target, journal.get(), layout->old)) {
    removeDurably(journal_);
  }
  return rewritten;
}

bool completeInterruptedRewrite(const char* target, const char* journalPath) {
  const HeldSignals untilSettled;
  const FoundJournal journal = findJournal(journalPath);
  if (journal.refusal != nullptr) {
    setJournalAside(journalPath, target, journal.refusal);
    return true;
  }
  if (!journal.file.valid()) {
    return true;
  }
  if (std::strcmp(journal.target.data(), target) != 0) {
    setJournalAside(journalPath, target, "written for another file");
    return true;
  }
  const UniqueFd file(::open(target, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (!file.valid()) {
    if (errno == ENOENT) {
      setJournalAside(journalPath, target, "the file is gone");
      return true;
    }
    reportIncomplete(target, journalPath);
    return false;
  }
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_ino != journal.inode) {
    setJournalAside(journalPath, target, "the file was replaced since");
    return true;
  }
  return replay(target, journalPath, file.get(), journal);
}
