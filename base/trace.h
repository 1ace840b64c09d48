#pragma once

#include <span>
#include <string_view>

// A trace of the run's steps for a person finding out why a run failed or
// printed nothing: one line per step on standard error, each beginning
// "trace: ". Off unless `--trace` asks for it; standard output and the exit
// status never change with it. The lines are for reading, not for parsing.

void enableTrace();
bool tracing();

void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "trace: WHAT N bytes: "ESCAPED"", each byte that is not printable ASCII
// escaped as in C.
void traceBytes(const char* what, std::span<const char> bytes);

// A fixed line, written without formatting, for a signal handler.
void traceFromHandler(std::string_view line);

// Milliseconds on a clock that only goes forward, for timing a step.
long long traceClockMilliseconds();
