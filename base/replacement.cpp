#include "base/replacement.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/file_io.h"
#include "base/trace.h"

namespace {

// Makes the written `file` durable, closes it and renames it from `temporary`
// to `target`, then syncs the directory so that the rename lasts. On failure
// errno tells why (EBUSY: `target` is a mount point and cannot be renamed
// over).
bool renameDurably(UniqueFd& file, const char* temporary, const char* target) {
  if (::fsync(file.get()) != 0 || !file.reset() || ::rename(temporary, target) != 0) {
    return false;
  }
  // The new content is in place; a power cut that undoes the rename leaves the
  // old file whole, which the caller cannot change now.
  static_cast<void>(syncDirectoryOf(target));
  return true;
}

}  // namespace

// A refused change of owner leaves the file ours, as the old one's owner
// could not have it.
void FileReplacement::keepOwnerAndMode() const {
  struct stat old {};
  if (::stat(target_.data(), &old) == 0) {
    [[maybe_unused]] const int owned = ::fchown(file_.get(), old.st_uid, old.st_gid);
    ::fchmod(file_.get(), old.st_mode & 07777);
  }
}

void FileReplacement::giveToRootIfAsked(int file) const {
  if (owner_ == Owner::kRoot) {
    [[maybe_unused]] const int owned = ::fchown(file, 0, 0);
  }
}

void FileReplacement::begin(const char* target, const char* journal) {
  journal_ = journal;
  const std::optional<PathText> resolved = resolveLinks(target);
  if (!resolved || !completeInterruptedRewrite(resolved->data(), journal)) {
    return;
  }
  target_ = *resolved;
  const std::optional<PathText> temporary = temporaryBeside(target_.data());
  if (!temporary) {
    return;
  }
  temporary_ = *temporary;
  file_ = createAfresh(temporary_.data());
  if (file_.valid()) {
    keepOwnerAndMode();
    giveToRootIfAsked(file_.get());
    return;
  }
  temporary_[0] = '\0';
  if (errno == EROFS) {
    file_ = inPlace_.start(target_.data(), journal);
  }
}

// The target is a mount point: the written temporary file becomes the new
// content of an in-place rewrite's journal.
bool FileReplacement::moveIntoJournal() {
  const UniqueFd content(::open(temporary_.data(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  ::unlink(temporary_.data());
  temporary_[0] = '\0';
  file_ = inPlace_.start(target_.data(), journal_);
  struct stat written {};
  return content.valid() && file_.valid() && ::fstat(content.get(), &written) == 0 &&
         copyRange(content.get(), 0, written.st_size, file_.get());
}

bool FileReplacement::commit() {
  if (temporary_[0] != '\0') {
    if (renameDurably(file_, temporary_.data(), target_.data())) {
      temporary_[0] = '\0';
      trace("save %s: by rename", target_.data());
      return true;
    }
    const int error = errno;
    trace("save %s: by rename: %s", target_.data(), std::strerror(error));
    if (error != EBUSY || !moveIntoJournal()) {
      return false;
    }
  }
  const bool rewritten = inPlace_.finish(file_);
  trace("save %s: in place, journal %s%s", target_.data(), journal_, rewritten ? "" : ": failed");
  if (!rewritten) {
    return false;
  }
  giveToRootIfAsked(inPlace_.target());
  return true;
}

FileReplacement::~FileReplacement() {
  if (temporary_[0] != '\0') {
    ::unlink(temporary_.data());
  }
}
