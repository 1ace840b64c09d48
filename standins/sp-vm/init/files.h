#pragma once

#include <stdbool.h>
#include <stddef.h>

/* A file's bytes; `bytes` is null when there was no file to read. */
struct content {
  char* bytes;
  size_t length;
};

struct content read_file(const char* path);
bool write_file(const char* path, const char* bytes, size_t length);
bool same_content(struct content a, struct content b);

/* The bytes that `hex` spells, two digits each; null bytes when out of memory. */
struct content from_hex(const char* hex);

/* The names in the directory, sorted, one a line, hidden ones left out;
 * null bytes when it cannot be read. */
struct content names_in(const char* path);
void free_content(struct content* content);
