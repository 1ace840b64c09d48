#include "agent/guard_timer.h"

#include <signal.h>
#include <unistd.h>

#include <string_view>

#include "base/output.h"
#include "base/result.h"
#include "base/system_log.h"
#include "base/trace.h"

namespace {

// The time the timer's message gets to reach a standard output that does not
// take it (a full pipe nobody reads) before the run ends without it.
constexpr unsigned kMessageGraceSeconds = 1;

volatile sig_atomic_t timedOut = 0;

// Set while an alarm this run armed is pending.
bool armed = false;

[[noreturn]] void onGuardTimeout(int /*signalNumber*/) {
  if (timedOut != 0) {
    _exit(kExitGuardTimeout);
  }
  timedOut = 1;
  alarm(kMessageGraceSeconds);
  // Output is never buffered, so a plain write lands after all earlier output.
  // Kept for callers: no newline.
  constexpr std::string_view kMessage = "<error>connection timeout</error>";
  writeOut(kMessage);
  sendTimeoutLogLine();
  traceFromHandler("guard timer ran out");
  traceFromHandler("exit status 2");
  _exit(kExitGuardTimeout);
}

}  // namespace

bool armGuardTimer(int waitSeconds) {
  if (armed) {
    return true;
  }
  struct sigaction action {};
  action.sa_handler = onGuardTimeout;
  // The grace alarm must reach the handler while it waits on its message.
  action.sa_flags = SA_NODEFER;
  if (sigaction(SIGALRM, &action, nullptr) != 0) {
    // Kept for callers: no newline after either message.
    writeOut("<error>Can't create signal.</error>");
    return false;
  }
  const unsigned seconds = waitSeconds > 0 ? static_cast<unsigned>(waitSeconds) : 0U;
  if (alarm(seconds) != 0) {
    writeOut("<error>Alarm already set</error>");
    return false;
  }
  armed = seconds > 0;
  if (armed) {
    trace("guard timer armed: %u s", seconds);
  } else {
    trace("guard timer not armed: the run may wait forever");
  }
  return true;
}

void cancelGuardTimer() {
  alarm(0);
  armed = false;
}
