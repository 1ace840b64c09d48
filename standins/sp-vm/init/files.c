#include "files.h"

#include <fcntl.h>
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

void free_content(struct content* content) {
  free(content->bytes);
  *content = (struct content){0};
}
