#include "report.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static void put_line(const char* line, size_t length) {
  while (length > 0) {
    ssize_t written = write(STDOUT_FILENO, line, length);
    if (written <= 0) return;
    line += written;
    length -= (size_t)written;
  }
}

void report_bytes(int step, const char* key, const char* bytes, size_t length) {
  size_t room = 64 + 2 * length;
  char* line = malloc(room);
  if (!line) return;
  size_t at = (size_t)snprintf(line, room, "@sp-vm %d %s ", step, key);
  for (size_t i = 0; i < length; i++)
    at += (size_t)sprintf(line + at, "%02x", (unsigned char)bytes[i]);
  line[at++] = '\n';
  put_line(line, at);
  free(line);
}

void report(int step, const char* key, const char* format, ...) {
  char line[512];
  int at = snprintf(line, sizeof line, "@sp-vm %d %s ", step, key);
  va_list arguments;
  va_start(arguments, format);
  at += vsnprintf(line + at, sizeof line - (size_t)at - 1, format, arguments);
  va_end(arguments);
  if (at > (int)sizeof line - 2) at = (int)sizeof line - 2;
  line[at++] = '\n';
  put_line(line, (size_t)at);
}
