#include "base/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <string_view>

#include "base/held_signals.h"

extern char** environ;

namespace {

// The scripts find the system's own programs, whatever the caller's PATH.
constexpr char kSystemPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
constexpr std::size_t kMaxEnvironment = 256;

using Environment = std::array<char*, kMaxEnvironment + 1>;

// The shell's process group, or 0; read by the signal handlers.
volatile sig_atomic_t runningShellGroup = 0;

// The caller's environment with PATH replaced; entries beyond the table's
// room are left out.
char** shellEnvironment(Environment& out) {
  std::size_t count = 0;
  out[count++] = const_cast<char*>(kSystemPath);
  for (char** entry = environ; *entry != nullptr && count < kMaxEnvironment; ++entry) {
    if (!std::string_view(*entry).starts_with("PATH=")) {
      out[count++] = *entry;
    }
  }
  out[count] = nullptr;
  return out.data();
}

// A signal that ends the run ends the shell and its scripts first.
// The run then ends as the signal would have ended it, once the handler returns.
void onEndingSignal(int signalNumber) {
  stopRunningShell();
  if (::signal(signalNumber, SIG_DFL) == SIG_ERR || ::raise(signalNumber) != 0) {
    _exit(128 + signalNumber);
  }
}

// A signal the caller had ignored stays ignored.
void endShellWithRun() {
  struct sigaction ending {};
  ending.sa_handler = onEndingSignal;
  sigemptyset(&ending.sa_mask);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
      ::sigaction(signalNumber, &ending, nullptr);
    }
  }
}

// Starts the shell in its own process group, so that the scripts it starts
// can be stopped with it. The ending signals wait until the group is
// recorded; the shell itself runs with the mask the caller had.
std::optional<pid_t> startShell(const char* commandLine) {
  const HeldSignals untilRecorded;
  endShellWithRun();
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setsigmask(&attributes, &untilRecorded.previousMask());
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);

  char shell[] = "/bin/sh";
  char dashC[] = "-c";
  char* arguments[] = {shell, dashC, const_cast<char*>(commandLine), nullptr};
  Environment environment{};
  pid_t child{};
  const int spawned =
      posix_spawn(&child, shell, nullptr, &attributes, arguments, shellEnvironment(environment));
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    return std::nullopt;
  }
  runningShellGroup = child;
  return child;
}

}  // namespace

bool runShellLine(const char* commandLine) {
  const std::optional<pid_t> child = startShell(commandLine);
  int status{};
  const bool ended = child && waitpid(*child, &status, 0) == *child;
  runningShellGroup = 0;
  return ended && status == 0;
}

void stopRunningShell() {
  const pid_t group = runningShellGroup;
  if (group > 0) {
    kill(-group, SIGKILL);
  }
}
