#include "base/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "base/held_signals.h"
#include "base/text_slot.h"

namespace {

// The directory of `path`, an absolute path, is synced so that a rename in it lasts.
bool syncDirectoryOf(const char* path) {
  PathText directory{};
  const std::size_t slash = std::string_view(path).rfind('/');
  formatText(directory, "%.*s", static_cast<int>(std::max<std::size_t>(slash, 1)), path);
  const UniqueFd handle(::open(directory.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return handle.valid() && ::fsync(handle.get()) == 0;
}

// Copies every byte of `source` to the start of `target`, whose room is
// reserved, so that each piece is written whole.
bool copyContent(int source, int target) {
  std::array<char, BUFSIZ> buffer{};
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(source, buffer.data(), buffer.size(), at);
    if (got <= 0) {
      return got == 0;
    }
    if (::pwrite(target, buffer.data(), static_cast<std::size_t>(got), at) != got) {
      return false;
    }
    at += got;
  }
}

// The target's file system will not let the temporary file be renamed over
// it; the new content, already complete in the temporary file, is copied
// over the old. Room for it is reserved first, so that a full disk is found
// before anything changes.
bool rewriteInPlace(const FileReplacement& replacement) {
  const HeldSignals untilRewritten;
  const UniqueFd source(::open(replacement.temporary.data(), O_RDONLY | O_CLOEXEC));
  const UniqueFd target(::open(replacement.target.data(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
  struct stat newVersion {};
  struct stat oldVersion {};
  if (!source.valid() || !target.valid() || ::fstat(source.get(), &newVersion) != 0 ||
      ::fstat(target.get(), &oldVersion) != 0) {
    return false;
  }
  if (newVersion.st_size > oldVersion.st_size &&
      ::posix_fallocate(target.get(), off_t{}, newVersion.st_size) != 0) {
    return false;
  }
  return copyContent(source.get(), target.get()) &&
         ::ftruncate(target.get(), newVersion.st_size) == 0 && ::fsync(target.get()) == 0;
}

}  // namespace

bool beginReplacement(FileReplacement& replacement, const char* target) {
  if (!formatText(replacement.target, "%s", target).complete ||
      !formatText(replacement.temporary, "%s.zarn-new", target).complete) {
    return false;
  }
  ::unlink(replacement.temporary.data());
  replacement.file = UniqueFd(::open(replacement.temporary.data(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!replacement.file.valid()) {
    return false;
  }
  struct stat old {};
  if (::stat(target, &old) == 0) {
    // A refusal leaves the new file ours, as the old one's owner could not have it.
    [[maybe_unused]] const int owned = ::fchown(replacement.file.get(), old.st_uid, old.st_gid);
    ::fchmod(replacement.file.get(), old.st_mode & 07777);
  }
  return true;
}

bool commitReplacement(FileReplacement& replacement) {
  const bool written = ::fsync(replacement.file.get()) == 0 && replacement.file.reset() == 0;
  if (written && ::rename(replacement.temporary.data(), replacement.target.data()) == 0) {
    syncDirectoryOf(replacement.target.data());
    return true;
  }
  const bool rewritten = written && errno == EBUSY && rewriteInPlace(replacement);
  abandonReplacement(replacement);
  return rewritten;
}

void abandonReplacement(FileReplacement& replacement) {
  replacement.file.reset();
  ::unlink(replacement.temporary.data());
}
