#pragma once

#include <fcntl.h>
#include <unistd.h>

// The targets print as the program does; the fuzzer's own reports go to
// standard error, so standard output is sent to /dev/null.
inline void sendStandardOutputToNull() {
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ::dup2(null, STDOUT_FILENO);
  ::close(null);
}
