#pragma once

#include <cstddef>
#include <span>

#include "base/result.h"

// A CPU's vital product data: an opaque block of exactly this size.
inline constexpr std::size_t kVpdBlockSize = 128;

// Stores `block` in the file `filename`, created or replaced, or writes it to
// standard output for a name that starts with '-'; returns the result.
Result captureVpd(std::span<const char> block, const char* filename);
