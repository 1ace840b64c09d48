#pragma once

#include "standins/agent-sim/options.h"

// Listens, answers every client as the scenario says and keeps the
// platform's state, until killed or until the last of --connections closes.
// Returns the exit status.
int runServer(const SimOptions& options);
