#pragma once

#include <fcntl.h>
#include <unistd.h>

// The targets print as the program does; the fuzzer's own reports go to
// standard error, so standard output is sent to /dev/null. Called again before
// every input, since a VPD capture to "-" closes standard output.
inline void sendStandardOutputToNull() {
  static const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ::dup2(null, STDOUT_FILENO);
}
