#pragma once

// Runs `commandLine` through /bin/sh, which inherits the standard streams,
// and returns its wait status (-1 when it cannot be started). While it runs
// the shell is remembered, so that the guard timer can stop it too.
int runShellLine(const char* commandLine);

// Kills the shell started by runShellLine, if one is running. Async-signal-safe.
void stopRunningShell();
