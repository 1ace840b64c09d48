#pragma once

#include "cli/invocation.h"

struct OptionRow;

// What a command or an immediate option runs; returns the result code.
using Handler = int (*)(const OptionRow& option, const InvocationState& state);

// Sends the option's request to the agent and handles the reply as its row says.
int runRemote(const OptionRow& option, const InvocationState& state);
// As runRemote, and saves the new port once the agent confirms it.
int runSetZarnPort(const OptionRow& option, const InvocationState& state);
int runSetRuvo(const OptionRow& option, const InvocationState& state);
int runGetRuvo(const OptionRow& option, const InvocationState& state);
int runGetZarnPort(const OptionRow& option, const InvocationState& state);
int runConfigRuvo(const OptionRow& option, const InvocationState& state);
int runHelp(const OptionRow& option, const InvocationState& state);
// Prints "zarn VERSION" and a newline on standard output.
int runVersion(const OptionRow& option, const InvocationState& state);
