#pragma once

#include <linux/limits.h>

#include <array>

#include "base/unique_fd.h"

using PathText = std::array<char, PATH_MAX>;

// A new version of a file, written to a temporary file beside it and then put
// in its place whole, so that a crash, a full disk or a kill leaves either the
// old or the new version. The temporary file has one fixed name, so a run
// that was killed leaves at most that one file, which the next run replaces.
struct FileReplacement {
  PathText target{};
  PathText temporary{};
  UniqueFd file;
};

// Creates the empty temporary file for `target`, an absolute path, with the
// owner and mode of the file it replaces (a new one gets mode 0666 less the
// creation mask).
bool beginReplacement(FileReplacement& replacement, const char* target);

// Puts the written temporary file in the target's place. Where the target
// cannot be renamed over (a bind mount answers EBUSY), its content is
// rewritten in place, with the ending signals held back and room reserved
// before the first byte changes. False, with the target as it was, when the
// replacement cannot be made.
bool commitReplacement(FileReplacement& replacement);

// Removes the temporary file of a replacement that is not to be made.
void abandonReplacement(FileReplacement& replacement);

// Replaces `target` with what `write(descriptor)` writes, whole or not at all.
template <typename Write>
bool replaceFile(const char* target, Write write) {
  FileReplacement replacement;
  if (!beginReplacement(replacement, target)) {
    return false;
  }
  if (!write(replacement.file.get())) {
    abandonReplacement(replacement);
    return false;
  }
  return commitReplacement(replacement);
}
