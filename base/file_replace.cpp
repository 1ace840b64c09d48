#include "base/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "base/output.h"
#include "base/temporary_file.h"
#include "base/text_slot.h"
#include "base/trace.h"

namespace {

// A refused change of owner leaves the file ours, as the old one's owner
// could not have it.
void keepOwnerAndMode(const FileReplacement& replacement) {
  struct stat old {};
  if (::stat(replacement.target.data(), &old) == 0) {
    [[maybe_unused]] const int owned = ::fchown(replacement.file.get(), old.st_uid, old.st_gid);
    ::fchmod(replacement.file.get(), old.st_mode & 07777);
  }
}

void giveToRootIfAsked(const FileReplacement& replacement, int file) {
  if (replacement.rootOwned) {
    [[maybe_unused]] const int owned = ::fchown(file, 0, 0);
  }
}

// The target is a mount point: the written temporary file becomes the new
// content of an in-place rewrite's journal.
bool moveIntoJournal(FileReplacement& replacement) {
  const UniqueFd content(::open(replacement.temporary.data(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  ::unlink(replacement.temporary.data());
  replacement.temporary[0] = '\0';
  replacement.file = startRewrite(replacement.inPlace, replacement.target.data());
  struct stat written {};
  return content.valid() && replacement.file.valid() && ::fstat(content.get(), &written) == 0 &&
         copyRange(content.get(), 0, written.st_size, replacement.file.get());
}

}  // namespace

bool beginReplacement(FileReplacement& replacement, const char* target, const char* journal) {
  replacement.inPlace.journal = journal;
  const std::optional<PathText> resolved = resolveLinks(target);
  if (!resolved || !completeInterruptedRewrite(resolved->data(), journal)) {
    return false;
  }
  replacement.target = *resolved;
  if (!formatText(replacement.temporary, "%s.zarn-new", replacement.target.data()).complete) {
    replacement.temporary[0] = '\0';
    return false;
  }
  replacement.file = createTemporary(replacement.temporary.data());
  if (replacement.file.valid()) {
    keepOwnerAndMode(replacement);
    giveToRootIfAsked(replacement, replacement.file.get());
    return true;
  }
  replacement.temporary[0] = '\0';
  if (errno != EROFS) {
    return false;
  }
  replacement.file = startRewrite(replacement.inPlace, replacement.target.data());
  return replacement.file.valid();
}

bool commitReplacement(FileReplacement& replacement) {
  if (replacement.temporary[0] != '\0') {
    if (renameDurably(replacement.file, replacement.temporary.data(), replacement.target.data())) {
      trace("save %s: by rename", replacement.target.data());
      return true;
    }
    const int error = errno;
    trace("save %s: by rename: %s", replacement.target.data(), std::strerror(error));
    if (error != EBUSY || !moveIntoJournal(replacement)) {
      abandonReplacement(replacement);
      return false;
    }
  }
  const bool rewritten = finishRewrite(replacement.inPlace, replacement.file);
  trace("save %s: in place, journal %s%s", replacement.target.data(), replacement.inPlace.journal,
        rewritten ? "" : ": failed");
  if (!rewritten) {
    return false;
  }
  giveToRootIfAsked(replacement, replacement.inPlace.target.get());
  return true;
}

void abandonReplacement(FileReplacement& replacement) {
  if (replacement.temporary[0] != '\0') {
    ::unlink(replacement.temporary.data());
  }
  abandonRewrite(replacement.inPlace);
}
