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
//
// The replacement owns its temporary file and its journal: unless commit()
// put the new content in place, destroying the replacement removes them.
class FileReplacement {
 public:
  enum class Owner { kKept, kRoot };  // the old file's owner, or root's whoever owned it

  explicit FileReplacement(Owner owner = Owner::kKept) : owner_(owner) {}
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  ~FileReplacement();

  // Starts the replacement of `target`, an absolute path whose symbolic links
  // are followed, with `journal` as the place of an in-place rewrite's
  // journal, and writes the new content with `write(descriptor)`, durable and
  // ready to be committed. A rewrite of the target that a killed run left
  // unfinished is completed first. The new file gets the owner the
  // replacement was made for and the old one's mode (or mode 0666 less the
  // creation mask).
  template <typename Write>
  [[nodiscard]] bool prepare(const char* target, const char* journal, Write write) {
    begin(target, journal);
    return file_.valid() && write(file_.get()) && ::fsync(file_.get()) == 0;
  }

  // Puts the new content in the target's place. False, with the target byte
  // for byte as it was, when that cannot be done.
  [[nodiscard]] bool commit();

  // The file being replaced, its symbolic links followed.
  [[nodiscard]] const char* target() const { return target_.data(); }

 private:
  // Opens the file the new content goes to, the temporary or the journal; none
  // when neither can be had.
  void begin(const char* target, const char* journal);
  bool moveIntoJournal();
  void keepOwnerAndMode() const;
  void giveToRootIfAsked(int file) const;

  Owner owner_;
  const char* journal_ = nullptr;
  PathText target_{};
  PathText temporary_{};  // beside the target; empty when rewriting in place
  UniqueFd file_;         // where the new content is written
  InPlaceRewrite inPlace_;
};
