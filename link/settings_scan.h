#pragma once

#include "link/settings.h"

// Scans the settings file open at `file`: eight fields split by white space
// (keyword, address text, hexadecimal number, twice, then keyword and decimal
// port), read as the C library's stream scan of "%s %s %lx %s %s %lx %s %d"
// reads them, however long the file is. The keywords and address texts are
// skipped; the numbers are stored over `start` in order, up to the first
// that does not convert, which makes the file malformed.
//
// The C library's scan is not used: "%lx" converts 64 bits on the build
// machines and 32 on the SP, and "%d" has undefined behaviour on overflow.
SettingsRead scanSettingsFields(int file, const LinkSettings& start);
