#pragma once

#include "base/unique_fd.h"

// An exclusive lock that no other user can take or hold up: it is taken on a
// regular file at `path` that only the user running the program can open
// (mode 0600, one link), opened without following a link. Anything else at
// `path`, left there by someone else or by an older release, is replaced
// first. Waits for another holder; no descriptor when the lock cannot be had.
[[nodiscard]] UniqueFd takePrivateLock(const char* path);
