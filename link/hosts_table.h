#pragma once

#include "base/replacement.h"

// The platform's name in the SP's hosts table, both as the pattern that finds
// its lines ('.' stands for any character, as in a sed address) and in the
// line that replaces them.
inline constexpr char kPlatformHostAlias[] = "platform.ruvo.local";

// Prepares `replacement` of the hosts table at `hostsPath` (or of the file a
// symbolic link there leads to): every line that does not hold the
// platform's alias, in order, then "ADDRESS  ALIAS\n". The table keeps its
// owner and mode. False, with nothing changed, when that cannot be prepared.
[[nodiscard]] bool prepareHostEntry(FileReplacement& replacement, const char* hostsPath,
                                    const char* journal, const char* addressText);
