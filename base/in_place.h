#pragma once

#include "base/journal.h"
#include "base/path.h"
#include "base/unique_fd.h"

// A file that cannot be renamed over (a bind-mounted file, or one in a
// read-only directory) is rewritten in place. Before its first byte changes,
// a journal in a directory that only its owner writes holds its old and its
// new content, durable: a rewrite that fails puts the old content back, and
// one that a kill or a power loss cut short is completed by the next run
// that replaces the file, or that pushes the link settings, before it reads
// the file.
//
// The rewrite owns its journal while it is written: unless finish() made it
// durable, destroying the rewrite removes it.
class InPlaceRewrite {
 public:
  InPlaceRewrite() = default;
  InPlaceRewrite(const InPlaceRewrite&) = delete;
  InPlaceRewrite& operator=(const InPlaceRewrite&) = delete;
  ~InPlaceRewrite();

  // Opens `target` and starts the journal, to be made durable at `journal`,
  // with its old content; returns the journal, open for the new content, or
  // no descriptor.
  UniqueFd start(const char* target, const char* journal);

  // Makes `journal` durable under its name, then rewrites the target with the
  // new content. False when the journal could not be made durable (the target
  // untouched), or when the rewrite failed (the old content put back).
  [[nodiscard]] bool finish(UniqueFd& journal);

  // The target, open for reading and writing once started.
  [[nodiscard]] int target() const { return target_.get(); }

 private:
  const char* journal_ = nullptr;
  PathText journalTemporary_{};  // empty once the journal is durable
  UniqueFd target_;
  ContentSpan old_{};  // where the target's old content lies in the journal
};

// Completes the rewrite of `target` (its links followed) that a killed run
// left a journal for at `journal`, if there is one and the target still holds
// what that rewrite can have left. A journal that is not to be applied is set
// aside and reported; a completion is reported. False only when the journal
// fits and the rewrite cannot be completed: the target is not to be saved.
[[nodiscard]] bool completeInterruptedRewrite(const char* target, const char* journal);
