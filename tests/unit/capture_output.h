#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

// Runs `body` with descriptor `fd` (standard output or error) sent to a
// temporary file and returns what it wrote there.
template <typename Body>
std::string captureOutput(int fd, Body body) {
  std::fflush(nullptr);
  std::FILE* file = std::tmpfile();
  const int saved = ::dup(fd);
  ::dup2(::fileno(file), fd);
  body();
  std::fflush(nullptr);
  ::dup2(saved, fd);
  ::close(saved);
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    text.push_back(static_cast<char>(c));
  }
  std::fclose(file);
  return text;
}
