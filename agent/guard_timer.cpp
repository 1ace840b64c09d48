#include "agent/guard_timer.h"

#include <signal.h>
#include <unistd.h>

#include <string_view>

#include "base/output.h"
#include "base/result.h"
#include "base/shell.h"

void onGuardTimeout(int /*signalNumber*/) {
  // Output is never buffered, so a plain write lands after all earlier output.
  constexpr std::string_view kMessage = "<error>connection timeout</error>";
  writeAll(STDOUT_FILENO, kMessage);
  stopRunningShell();
  _exit(kExitGuardTimeout);
}

int armGuardTimer(int waitSeconds) {
  struct sigaction action {};
  action.sa_handler = onGuardTimeout;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGALRM, &action, nullptr) != 0) {
    writeOut("<error>Can't create signal.</error>");
    return kResultFault;
  }
  const unsigned seconds = waitSeconds > 0 ? static_cast<unsigned>(waitSeconds) : 0U;
  if (alarm(seconds) != 0) {
    writeOut("<error>Alarm already set</error>");
    return kResultFault;
  }
  return kResultOk;
}

void cancelGuardTimer() { alarm(0); }
