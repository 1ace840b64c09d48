#pragma once

// The platform's name in the SP's hosts table, both as the pattern that finds
// its lines ('.' stands for any character, as in a sed address) and in the
// line that replaces them.
inline constexpr char kPlatformHostAlias[] = "platform.ruvo.local";

inline constexpr char kHostsPath[] = "/etc/hosts";

// Replaces the platform's lines in the hosts table at `hostsPath` (or in the
// file a symbolic link there leads to) with "ADDRESS  ALIAS\n" at the end, keeping every other line
// in order and the table's owner and mode. The table is replaced whole: when
// that cannot be done it stays exactly as it was and the result is false.
bool setPlatformHostEntry(const char* hostsPath, const char* addressText);
