#include "base/temporary_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "base/path.h"

UniqueFd createTemporary(const char* path) {
  clearPath(path);
  return UniqueFd(::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

bool renameDurably(UniqueFd& file, const char* temporary, const char* target) {
  if (::fsync(file.get()) != 0 || file.reset() != 0 || ::rename(temporary, target) != 0) {
    return false;
  }
  syncDirectoryOf(target);
  return true;
}

void removeDurably(const char* path) {
  if (::unlink(path) == 0) {
    syncDirectoryOf(path);
  }
}
