#include "base/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <array>
#include <optional>
#include <string_view>

#include "base/trace.h"

extern char** environ;

namespace {

// The scripts find the system's own programs, whatever the caller's PATH.
constexpr char kSystemPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
constexpr std::size_t kMaxEnvironment = 256;

using Environment = std::array<char*, kMaxEnvironment + 1>;

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

// Interrupt and quit are ignored while the shell runs and put back after.
// The shell gets their default action, unless the caller ignored them too.
class TerminalSignalsIgnored {
 public:
  TerminalSignalsIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
      ::sigaction(kSignals[i], &ignore, &saved_[i]);
      if (saved_[i].sa_handler != SIG_IGN) {
        sigaddset(&forShell_, kSignals[i]);
      }
    }
  }
  TerminalSignalsIgnored(const TerminalSignalsIgnored&) = delete;
  TerminalSignalsIgnored& operator=(const TerminalSignalsIgnored&) = delete;
  ~TerminalSignalsIgnored() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
      ::sigaction(kSignals[i], &saved_[i], nullptr);
    }
  }

  // The signals the shell gets back with their default action.
  [[nodiscard]] const sigset_t& restoredForShell() const { return forShell_; }

 private:
  static constexpr std::array<int, 2> kSignals{SIGINT, SIGQUIT};
  std::array<struct sigaction, kSignals.size()> saved_{};
  sigset_t forShell_{};
};

// Starts the shell on `commandLine` with `defaults` given their default
// action; its process, or none when it could not be started.
std::optional<pid_t> spawnShell(const char* commandLine, const sigset_t& defaults) {
  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) {
    return std::nullopt;
  }
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  char shell[] = "/bin/sh";
  char dashC[] = "-c";
  char* arguments[] = {shell, dashC, const_cast<char*>(commandLine), nullptr};
  Environment environment{};
  pid_t child{};
  const int spawned =
      posix_spawn(&child, shell, nullptr, &attributes, arguments, shellEnvironment(environment));
  posix_spawnattr_destroy(&attributes);
  return spawned == 0 ? std::optional(child) : std::nullopt;
}

}  // namespace

bool runShellLine(const char* commandLine) {
  const TerminalSignalsIgnored whileRunning;
  const std::optional<pid_t> child = spawnShell(commandLine, whileRunning.restoredForShell());
  int status{};
  if (!child || waitpid(*child, &status, 0) != *child) {
    trace("shell \"%s\": not run", commandLine);
    return false;
  }
  if (WIFEXITED(status)) {
    trace("shell \"%s\": status %d", commandLine, WEXITSTATUS(status));
  } else {
    trace("shell \"%s\": ended by signal %d", commandLine, WTERMSIG(status));
  }
  return status == 0;
}
