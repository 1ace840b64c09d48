#include "base/path.h"

#include <fcntl.h>
#include <sys/param.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "base/text_slot.h"

namespace {

// Where the link at `from` leads: its target as it stands when absolute, else
// beside the link. None when that path does not fit.
std::optional<PathText> followLink(const PathText& from, const char* target) {
  PathText next{};
  const auto directoryLength = static_cast<int>(std::string_view(from.data()).rfind('/') + 1);
  const bool fits = target[0] == '/'
                        ? formatText(next, "%s", target).complete
                        : formatText(next, "%.*s%s", directoryLength, from.data(), target).complete;
  return fits ? std::optional<PathText>(next) : std::nullopt;
}

PathText directoryOf(const char* path) {
  PathText directory{};
  const std::size_t slash = std::string_view(path).rfind('/');
  formatText(directory, "%.*s", static_cast<int>(std::max<std::size_t>(slash, 1)), path);
  return directory;
}

}  // namespace

std::optional<PathText> resolveLinks(const char* path) {
  std::optional<PathText> resolved(std::in_place);
  if (!formatText(*resolved, "%s", path).complete) {
    return std::nullopt;
  }
  for (int hop = 0; hop <= MAXSYMLINKS && resolved; ++hop) {
    PathText target{};
    const ssize_t length = ::readlink(resolved->data(), target.data(), target.size() - 1);
    if (length < 0) {
      return errno == EINVAL || errno == ENOENT ? resolved : std::nullopt;
    }
    target[static_cast<std::size_t>(length)] = '\0';
    resolved = followLink(*resolved, target.data());
  }
  return std::nullopt;
}

void clearPath(const char* path) {
  if (::unlink(path) != 0) {
    ::rmdir(path);
  }
}

std::optional<PathText> temporaryBeside(const char* path) {
  PathText temporary{};
  return formatText(temporary, "%s.zarn-new", path).complete ? std::optional<PathText>(temporary)
                                                             : std::nullopt;
}

UniqueFd createAfresh(const char* path) {
  clearPath(path);
  return UniqueFd(::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

void removeDurably(const char* path) {
  // A removal that a power cut undoes brings back a journal that the next
  // run finds already applied, or a temporary that it replaces.
  if (::unlink(path) == 0) {
    static_cast<void>(syncDirectoryOf(path));
  }
}

bool directoryIsPrivate(const char* path) {
  struct stat status {};
  return ::stat(directoryOf(path).data(), &status) == 0 &&
         (status.st_uid == 0 || status.st_uid == ::geteuid()) &&
         (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool syncDirectoryOf(const char* path) {
  const UniqueFd handle(::open(directoryOf(path).data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return handle.valid() && ::fsync(handle.get()) == 0;
}
