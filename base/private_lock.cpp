#include "base/private_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "base/path.h"

namespace {

constexpr mode_t kPrivateMode = 0600;

bool isPrivate(const struct stat& status) {
  return S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && status.st_nlink == 1 &&
         (status.st_mode & 077) == 0;
}

// The private file at `path`, created when there is none; no descriptor when
// something else stands there. A device is not even opened.
UniqueFd openPrivate(const char* path) {
  struct stat status {};
  if (::lstat(path, &status) == 0 && !isPrivate(status)) {
    return UniqueFd();
  }
  UniqueFd file(::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kPrivateMode));
  if (file.valid() && (::fstat(file.get(), &status) != 0 || !isPrivate(status))) {
    file.reset();
  }
  return file;
}

// A new private file renamed over whatever stands at `path`.
UniqueFd replaceWithPrivate(const char* path) {
  const std::optional<PathText> temporary = temporaryBeside(path);
  if (!temporary) {
    return UniqueFd();
  }
  UniqueFd file = createAfresh(temporary->data());
  if (!file.valid() || ::fchmod(file.get(), kPrivateMode) != 0 ||
      (::rename(temporary->data(), path) != 0 &&
       (clearPath(path), ::rename(temporary->data(), path) != 0))) {
    ::unlink(temporary->data());
    return UniqueFd();
  }
  return file;
}

// Whether `path` still names the file `lock` holds: another run may have
// replaced it while this one waited.
bool stillNamed(const char* path, const UniqueFd& lock) {
  struct stat named {};
  struct stat held {};
  return ::lstat(path, &named) == 0 && ::fstat(lock.get(), &held) == 0 &&
         named.st_ino == held.st_ino && named.st_dev == held.st_dev;
}

}  // namespace

UniqueFd takePrivateLock(const char* path) {
  constexpr int kAttempts = 3;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    UniqueFd lock = openPrivate(path);
    if (!lock.valid()) {
      lock = replaceWithPrivate(path);
    }
    if (!lock.valid() || ::flock(lock.get(), LOCK_EX) != 0) {
      return UniqueFd();
    }
    if (stillNamed(path, lock)) {
      return lock;
    }
  }
  return UniqueFd();
}
