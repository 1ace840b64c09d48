#pragma once

#include <string_view>

#include "base/file_io.h"

// Standard output and standard error are written straight to their
// descriptors, never buffered: the guard timer's handler can then add its
// message after everything already printed without touching stdio.

// Opens /dev/null on whichever of descriptors 0, 1 and 2 the caller left
// closed, so that no file the program opens later takes their place.
void keepStandardStreamsOpen();

void writeOut(std::string_view text);
void writeErr(std::string_view text);
[[nodiscard]] bool printTo(int fd, const char* format, ...) __attribute__((format(printf, 2, 3)));
void printOut(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printErr(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "prefix: reason\n" on standard error, the reason taken from errno.
void reportSystemError(const char* prefix);
