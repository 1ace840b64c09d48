#pragma once

#include <linux/limits.h>

#include <array>
#include <optional>

#include "base/unique_fd.h"

using PathText = std::array<char, PATH_MAX>;

// Follows the symbolic links from `path`, an absolute path, to the file they
// end at, which need not exist yet. None for a chain longer than MAXSYMLINKS
// or a path that does not fit.
[[nodiscard]] std::optional<PathText> resolveLinks(const char* path);

// Removes whatever a killed run left at `path`: a file, a symbolic link or an
// empty directory.
void clearPath(const char* path);

// The one name of the temporary file beside `path`, "PATH.zarn-new", so that
// a killed run leaves at most that file, which the next run replaces; none
// when the name does not fit.
[[nodiscard]] std::optional<PathText> temporaryBeside(const char* path);

// Creates `path` afresh for reading and writing, in place of whatever a killed
// run left there, with mode 0666 less the creation mask.
[[nodiscard]] UniqueFd createAfresh(const char* path);

// Removes the file at `path` for good: the removal is synced to its directory.
void removeDurably(const char* path);

// Whether the directory of `path`, an absolute path, can be written by no one
// but its owner, who is root or the user running the program.
[[nodiscard]] bool directoryIsPrivate(const char* path);

// Syncs the directory of `path`, an absolute path, so that a rename or a
// removal in it lasts.
[[nodiscard]] bool syncDirectoryOf(const char* path);
