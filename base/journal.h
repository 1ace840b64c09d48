#pragma once

#include <sys/types.h>

#include <optional>

#include "base/path.h"
#include "base/unique_fd.h"

// The journal of an in-place rewrite: what a later run needs to finish the
// rewrite after a kill or a power loss, and what proves that the journal is
// whole and still fits the file it was written for.
//
//   zarn-journal 1\n
//   target PATH\n       the file, its symbolic links followed
//   inode NUMBER\n      20 digits: the file's inode when the journal was made
//   old LENGTH\n        10 digits: the length of the file's old content
//   new LENGTH\n        10 digits: the length of its new content
//   the old content, then the new content
//   crc32 HEX\n         8 digits: CRC-32 of every byte before this line

// The largest old or new content a journal holds.
inline constexpr off_t kJournalContentLimit = off_t{1} << 20;

struct ContentSpan {
  off_t start;
  off_t length;
};

struct JournalLayout {
  ContentSpan old;
  ContentSpan replacement;
};

// Writes the header and the old content of `target`, open for reading at
// `targetPath`, into `journal`, a new empty file open for reading and
// writing. The new content is to follow. Where the old content lies, or none
// when the target is not a regular file within the limit.
[[nodiscard]] std::optional<ContentSpan> startJournal(int journal, const char* targetPath,
                                                      int target);

// Completes the header with the new content's length and appends the
// checksum. The journal's layout, or none when that fails.
[[nodiscard]] std::optional<JournalLayout> sealJournal(int journal, ContentSpan old);

// A journal found on disk. `refusal` says why it cannot be trusted: it is not
// a regular file of the user running the program with one link, its directory
// can be written by others, or it is not whole.
struct FoundJournal {
  UniqueFd file;  // none when there is no journal, or it is refused
  const char* refusal = nullptr;
  JournalLayout layout{};
  PathText target{};
  ino_t inode = 0;
};

[[nodiscard]] FoundJournal findJournal(const char* path);

// What a file holds next to a journal's two contents: the new one; the old
// one or a state that the rewrite can leave when it is cut short (each byte
// its old or its new value, the length between the two); or anything else.
enum class TargetState { kNew, kUnfinished, kForeign };

[[nodiscard]] TargetState compareWithJournal(int target, int journal, const JournalLayout& layout);

// Moves a journal that is not to be applied out of the way, to "PATH.set-aside",
// where a person can read it, and says so on standard error with `reason`.
void setJournalAside(const char* path, const char* target, const char* reason);
