#pragma once

#include "cli/invocation.h"

// What the front end does once the command line has been read.
enum class ParseAction {
  kDispatch,    // run the one command in the state
  kConfigRuvo,  // the immediate configRuvo option: run it, nothing else
  kFinish,      // stop with `result`
};

struct ParseOutcome {
  ParseAction action;
  int result;
};

// Reads the options into `state` and checks that exactly one command and no
// stray argument was given, printing the message of any failure.
// The option parser keeps global state: set optind to 0 before a second call.
ParseOutcome parseCommandLine(int argc, char** argv, InvocationState& state);
