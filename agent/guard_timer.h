#pragma once

// The guard timer bounds a whole remote command, from before the connection
// is started to the end of whatever follows it in the same run. When it runs
// out, the run ends with "<error>connection timeout</error>" and status 2.

// Installs the handler and arms the alarm for `waitSeconds` (none when zero
// or negative); a timer this run already armed keeps its deadline. False,
// with its message printed, when the handler cannot be installed or an alarm
// the caller left was pending.
[[nodiscard]] bool armGuardTimer(int waitSeconds);

void cancelGuardTimer();
