#pragma once

// Runs `commandLine` through /bin/sh with the system's PATH, as the C
// library's system() runs it: in the caller's process group, so that it can
// read the terminal and a terminal's interrupt reaches it, with the caller's
// interrupt and quit signals ignored until it ends. The shell inherits the
// standard streams. True when it ran and ended with status 0.
[[nodiscard]] bool runShellLine(const char* commandLine);
