#pragma once

#include "base/path.h"
#include "base/unique_fd.h"

// A file that cannot be renamed over (a bind-mounted file, or one in a
// read-only directory) is rewritten in place. Before its first byte changes,
// a journal in a directory the program can always write holds its old and
// its new content, durable: a rewrite that fails puts the old content back,
// and one that a kill or a power loss cut short is completed by the next
// run that replaces the file, before that run reads it.
//
// A journal holds the old content's length in decimal and a newline, the old
// content, then the new content.
struct InPlaceRewrite {
  const char* journal = nullptr;
  PathText journalTemporary{};
  UniqueFd target;  // open for reading and writing
};

// Opens `target` and starts the rewrite's journal with its old content;
// returns the journal, open for the new content, or no descriptor.
UniqueFd startRewrite(InPlaceRewrite& rewrite, const char* target);

// Commits the journal written to `journal` and rewrites the target with the
// new content. False, with the old content put back, when that fails.
bool finishRewrite(InPlaceRewrite& rewrite, UniqueFd& journal);

// Removes the journal of a rewrite that is not to be made.
void abandonRewrite(InPlaceRewrite& rewrite);

// Completes the rewrite of `target` whose journal a killed run left at
// `journal`, if there is one. False when it is there and cannot be completed.
bool completeInterruptedRewrite(const char* target, const char* journal);
