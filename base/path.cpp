#include "base/path.h"

#include <fcntl.h>
#include <sys/param.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "base/text_slot.h"
#include "base/unique_fd.h"

namespace {

// Where the link at `from` leads: its target as it stands when absolute, else
// beside the link.
bool followLink(const PathText& from, const char* target, PathText& next) {
  if (target[0] == '/') {
    return formatText(next, "%s", target).complete;
  }
  const auto directoryLength = static_cast<int>(std::string_view(from.data()).rfind('/') + 1);
  return formatText(next, "%.*s%s", directoryLength, from.data(), target).complete;
}

}  // namespace

bool resolveLinks(const char* path, PathText& resolved) {
  if (!formatText(resolved, "%s", path).complete) {
    return false;
  }
  for (int hop = 0; hop <= MAXSYMLINKS; ++hop) {
    PathText target{};
    const ssize_t length = ::readlink(resolved.data(), target.data(), target.size() - 1);
    if (length < 0) {
      return errno == EINVAL || errno == ENOENT;
    }
    target[static_cast<std::size_t>(length)] = '\0';
    PathText next{};
    if (!followLink(resolved, target.data(), next)) {
      return false;
    }
    resolved = next;
  }
  return false;
}

void clearPath(const char* path) {
  if (::unlink(path) != 0 && errno == EISDIR) {
    ::rmdir(path);
  }
}

bool syncDirectoryOf(const char* path) {
  PathText directory{};
  const std::size_t slash = std::string_view(path).rfind('/');
  formatText(directory, "%.*s", static_cast<int>(std::max<std::size_t>(slash, 1)), path);
  const UniqueFd handle(::open(directory.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return handle.valid() && ::fsync(handle.get()) == 0;
}
