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
void free_content(struct content* content);
