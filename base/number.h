#pragma once

#include <optional>

// The leading decimal integer of `text`, read as the C library's "%d" reads
// it (leading white space, an optional sign, then digits; the rest is
// ignored). Empty when there are no digits or the value does not fit an int.
std::optional<int> scanInt(const char* text);
