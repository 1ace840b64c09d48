#pragma once

// Lines for the system log, one for each change zarn makes to the link, so
// that "who moved the link, and when" has an answer on an SP whose log is
// forwarded. Facility daemon, ident "zarn" with the pid; each line ends with
// who ran zarn: " (uid N, parent NAME)", the parent's name escaped. They go
// to /dev/log without waiting: a system with no log socket, or a full one,
// loses them silently. Nothing the program prints changes with them.

enum class LogLevel { kError = 3, kWarning = 4, kNotice = 5 };

void logChange(LogLevel level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Formats now the line of `message` that the guard timer's handler sends if
// the timer ends the run from here on.
void prepareTimeoutLogLine(const char* message);

// Sends the prepared line, if any; safe in a signal handler.
void sendTimeoutLogLine();
