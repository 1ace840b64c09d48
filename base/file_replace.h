#pragma once

#include <unistd.h>

#include "base/in_place.h"
#include "base/path.h"
#include "base/unique_fd.h"

// A new version of a file, put in its place whole, so that a crash, a full
// disk or a kill leaves either the old or the new version. It is written to
// a temporary file beside the target and renamed over it. A target that
// cannot be renamed over (a bind mount answers EBUSY) or that stands in a
// read-only directory is rewritten in place under a journal instead. The
// temporary file has one fixed name, so a killed run leaves at most that one
// file, which the next run replaces.
struct FileReplacement {
  PathText target{};     // symbolic links followed
  PathText temporary{};  // beside the target; empty when rewriting in place
  UniqueFd file;         // where the new content is written
  InPlaceRewrite inPlace;
  bool rootOwned = false;  // the new file is root's, whoever owned the old one
};

// Starts the replacement of `target`, an absolute path whose symbolic links
// are followed, with `journal` as the place of an in-place rewrite's journal.
// A rewrite of the target that a killed run left unfinished is completed
// first. The new content is to be written to `replacement.file`; a new file
// gets the old one's owner (or root, when `replacement.rootOwned` is set
// beforehand) and mode (or mode 0666 less the creation mask).
bool beginReplacement(FileReplacement& replacement, const char* target, const char* journal);

// Puts the new content in the target's place. False, with the target byte
// for byte as it was, when that cannot be done.
bool commitReplacement(FileReplacement& replacement);

// Drops a replacement that is not to be made.
void abandonReplacement(FileReplacement& replacement);

// Begins a replacement and writes its content with `write(descriptor)`,
// durable and ready to be committed.
template <typename Write>
bool prepareReplacement(FileReplacement& replacement, const char* target, const char* journal,
                        Write write) {
  if (!beginReplacement(replacement, target, journal)) {
    return false;
  }
  if (!write(replacement.file.get()) || ::fsync(replacement.file.get()) != 0) {
    abandonReplacement(replacement);
    return false;
  }
  return true;
}
