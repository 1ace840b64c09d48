#pragma once

#include "cli/invocation.h"

// Runs the one command of `state` and returns its result code.
int dispatchCommand(const InvocationState& state);

// The whole run: defaults from the link settings, the command line, the
// command. Returns the process's exit status.
int runZarn(int argc, char** argv);
