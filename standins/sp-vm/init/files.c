#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

struct content read_file(const char* path) {
  struct content content = {0};
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return content;
  size_t room = 4096;
  content.bytes = malloc(room);
  for (ssize_t got = 1; content.bytes && got > 0;) {
    if (content.length == room) content.bytes = realloc(content.bytes, room *= 2);
    got = content.bytes ? read(fd, content.bytes + content.length, room - content.length) : 0;
    if (got > 0) content.length += (size_t)got;
  }
  close(fd);
  return content;
}

bool write_file(const char* path, const char* bytes, size_t length) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool whole = write(fd, bytes, length) == (ssize_t)length;
  return close(fd) == 0 && whole;
}

bool same_content(struct content a, struct content b) {
  if (!a.bytes || !b.bytes) return !a.bytes && !b.bytes;
  return a.length == b.length && memcmp(a.bytes, b.bytes, a.length) == 0;
}

struct content from_hex(const char* hex) {
  struct content content = {.length = strlen(hex) / 2};
  content.bytes = malloc(content.length + 1);
  for (size_t i = 0; content.bytes && i < content.length; i++) {
    unsigned value;
    sscanf(hex + 2 * i, "%2x", &value);
    content.bytes[i] = (char)value;
  }
  if (!content.bytes) content.length = 0;
  return content;
}

static int by_name(const struct dirent** a, const struct dirent** b) {
  return strcmp((*a)->d_name, (*b)->d_name);
}

struct content names_in(const char* path) {
  struct content names = {0};
  struct dirent** entries;
  int count = scandir(path, &entries, NULL, by_name);
  if (count < 0) return names;
  size_t room = 1;
  for (int i = 0; i < count; i++) room += strlen(entries[i]->d_name) + 1;
  names.bytes = malloc(room);
  for (int i = 0; i < count; i++) {
    if (names.bytes && entries[i]->d_name[0] != '.')
      names.length += (size_t)sprintf(names.bytes + names.length, "%s\n", entries[i]->d_name);
    free(entries[i]);
  }
  free(entries);
  return names;
}

void free_content(struct content* content) {
  free(content->bytes);
  *content = (struct content){0};
}
