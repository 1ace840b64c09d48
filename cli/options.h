#pragma once

#include "base/result.h"
#include "cli/invocation.h"

struct OptionRow;

// What the front end does once the command line has been read: run the
// option's handler with `state`, or stop with `result`.
struct ParseOutcome {
  const OptionRow* run;  // the one command, or an immediate option; none: stop
  Result result;
  InvocationState state;
};

// Reads the options over `state` as the option table says, stopping at an
// immediate option, and checks that exactly one command and no stray
// argument was given, printing the message of any failure.
// The option parser keeps global state: set optind to 0 before a second call.
ParseOutcome parseCommandLine(int argc, char** argv, InvocationState state);
