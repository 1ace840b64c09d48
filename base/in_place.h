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
struct InPlaceRewrite {
  const char* journal = nullptr;
  PathText journalTemporary{};
  UniqueFd target;    // open for reading and writing
  ContentSpan old{};  // where the target's old content lies in the journal
};

// Opens `target` and starts the rewrite's journal with its old content;
// returns the journal, open for the new content, or no descriptor.
UniqueFd startRewrite(InPlaceRewrite& rewrite, const char* target);

// Makes the journal written to `journal` durable under its name, then
// rewrites the target with the new content. False when the journal could not
// be made durable (the target untouched), or when the rewrite failed (the old
// content put back).
bool finishRewrite(InPlaceRewrite& rewrite, UniqueFd& journal);

// Removes the journal of a rewrite that is not to be made.
void abandonRewrite(InPlaceRewrite& rewrite);

// Completes the rewrite of `target` (its links followed) that a killed run
// left a journal for at `journal`, if there is one and the target still holds
// what that rewrite can have left. A journal that is not to be applied is set
// aside and reported; a completion is reported. False only when the journal
// fits and the rewrite cannot be completed: the target is not to be saved.
bool completeInterruptedRewrite(const char* target, const char* journal);
