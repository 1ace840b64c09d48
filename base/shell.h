#pragma once

// Runs `commandLine` through /bin/sh with the system's PATH; the shell
// inherits the standard streams. Returns its wait status (-1 when it cannot
// be started). While it runs the shell is remembered, so that the guard timer
// can stop it too, and SIGINT, SIGTERM or SIGHUP end it with the run.
int runShellLine(const char* commandLine);

// Kills the shell started by runShellLine, if one is running. Async-signal-safe.
void stopRunningShell();
