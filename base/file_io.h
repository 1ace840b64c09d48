#pragma once

#include <sys/types.h>

#include <span>

// Whole reads, writes and copies on descriptors. No signal handler of the
// program returns, so no call is ever interrupted.

// Writes every byte, retrying short writes; false when the descriptor fails.
[[nodiscard]] bool writeAll(int fd, std::span<const char> bytes);

// Fills `into` from `file` at offset `at`; false when the file fails or ends first.
[[nodiscard]] bool readAt(int file, off_t at, std::span<char> into);

// Copies `length` bytes of `source` from offset `from` to `target` at its
// current position; false when either fails or `source` ends first.
[[nodiscard]] bool copyRange(int source, off_t from, off_t length, int target);
