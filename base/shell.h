#pragma once

// Runs `commandLine` through /bin/sh with the system's PATH; the shell
// inherits the standard streams. True when it ran and ended with status 0.
// While it runs the shell is remembered, so that the guard timer can stop it
// too, and SIGINT, SIGTERM or SIGHUP end it with the run.
bool runShellLine(const char* commandLine);

// Kills the shell started by runShellLine, if one is running. Async-signal-safe.
void stopRunningShell();
