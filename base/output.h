#pragma once

#include <sys/types.h>

#include <span>
#include <string_view>

// Standard output and standard error are written straight to their
// descriptors, never buffered: the guard timer's handler can then add its
// message after everything already printed without touching stdio.

// Opens /dev/null on whichever of descriptors 0, 1 and 2 the caller left
// closed, so that no file the program opens later takes their place.
void keepStandardStreamsOpen();

// Writes every byte, retrying short writes; false when the descriptor fails.
// No signal handler of the program returns, so no call is ever interrupted.
bool writeAll(int fd, std::span<const char> bytes);

// Copies `length` bytes of `source` from offset `from` to `target` at its
// current position; false when either fails or `source` ends first.
bool copyRange(int source, off_t from, off_t length, int target);

void writeOut(std::string_view text);
bool printTo(int fd, const char* format, ...) __attribute__((format(printf, 2, 3)));
void printOut(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printErr(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "prefix: reason\n" on standard error, the reason taken from errno.
void reportSystemError(const char* prefix);
