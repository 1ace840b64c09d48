#include "base/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "base/deferred_alarm.h"

extern char** environ;

namespace {

// The shell's process group, or 0; read by the guard timer's handler.
volatile sig_atomic_t runningShellGroup = 0;

// Starts the shell in its own process group, so that the scripts it starts
// can be stopped with it. The guard timer waits until the group is recorded;
// the shell itself runs with the mask the caller had.
pid_t startShell(const char* commandLine) {
  const DeferredAlarm untilRecorded;
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigmask(&attributes, &untilRecorded.previousMask());
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);

  char shell[] = "/bin/sh";
  char dashC[] = "-c";
  char* arguments[] = {shell, dashC, const_cast<char*>(commandLine), nullptr};
  pid_t child = 0;
  const int spawned = posix_spawn(&child, shell, nullptr, &attributes, arguments, environ);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    return -1;
  }
  runningShellGroup = child;
  return child;
}

}  // namespace

int runShellLine(const char* commandLine) {
  const pid_t child = startShell(commandLine);
  if (child < 0) {
    return -1;
  }
  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  runningShellGroup = 0;
  return waited == child ? status : -1;
}

void stopRunningShell() {
  const pid_t group = runningShellGroup;
  if (group > 0) {
    kill(-group, SIGKILL);
  }
}
