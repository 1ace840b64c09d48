#pragma once

#include "base/unique_fd.h"

// A file written under a temporary name and then renamed into place, so that
// it appears whole or not at all.

// Creates `path` afresh for reading and writing, in place of whatever a killed run left
// there, with mode 0666 less the creation mask.
UniqueFd createTemporary(const char* path);

// Makes the written `file` durable, closes it and renames it from `temporary`
// to `target`, then syncs the directory so that the rename lasts. On failure
// errno tells why (EBUSY: `target` is a mount point and cannot be renamed
// over).
bool renameDurably(UniqueFd& file, const char* temporary, const char* target);

// Removes the file at `path` for good.
void removeDurably(const char* path);
