#include "standins/agent-sim/program.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

std::string quoted(const std::vector<std::string>& command) {
  std::string text;
  for (const std::string& word : command) text += (text.empty() ? "" : " ") + word;
  return "'" + text + "'";
}

// The simulator ignores SIGPIPE; the program gets the default back.
int spawn(pid_t& child, const std::vector<std::string>& command) {
  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  sigset_t restored;
  (void)posix_spawnattr_init(&attributes);
  (void)sigemptyset(&restored);
  (void)sigaddset(&restored, SIGPIPE);
  (void)posix_spawnattr_setsigdefault(&attributes, &restored);
  (void)posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  const int error = posix_spawn(&child, argv[0], nullptr, &attributes, argv.data(), environ);
  (void)posix_spawnattr_destroy(&attributes);
  return error;
}

}  // namespace

std::string runProgram(const std::vector<std::string>& command) {
  pid_t child = 0;
  if (const int error = spawn(child, command); error != 0) {
    return "cannot run " + quoted(command) + ": " + std::strerror(error);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return "cannot wait for " + quoted(command) + ": " + std::strerror(errno);
  }
  if (WIFSIGNALED(status)) {
    return quoted(command) + " ended by signal " + std::to_string(WTERMSIG(status));
  }
  const int exitStatus = WEXITSTATUS(status);
  return exitStatus == 0 ? "" : quoted(command) + " exited with " + std::to_string(exitStatus);
}
