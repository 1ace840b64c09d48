#pragma once

#include <sys/types.h>

#include <span>

#include "base/unique_fd.h"

// A CPU's vital product data: an opaque block of exactly this size, all of
// it in the agent's first reply chunk.
inline constexpr ssize_t kVpdBlockSize = 128;

// Stores the first reply chunk of a `getCpuid` command (`n` bytes, or a
// failed read's -1) in the file `filename`, or on standard output for a name
// that starts with '-'. Closes `connection` itself when it fails.
int captureVpd(UniqueFd& connection, std::span<const char> chunk, ssize_t n, const char* filename);
