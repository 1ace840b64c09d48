#pragma once

#include "base/result.h"
#include "cli/invocation.h"

struct OptionRow;

// What a command or an immediate option runs; returns the result.
using Handler = Result (*)(const OptionRow& option, const InvocationState& state);

// Sends the option's request to the agent and handles the reply as its row says.
Result runRemote(const OptionRow& option, const InvocationState& state);
// As runRemote, and saves the new port once the agent confirms it.
Result runSetZarnPort(const OptionRow& option, const InvocationState& state);
Result runSetRuvo(const OptionRow& option, const InvocationState& state);
Result runGetRuvo(const OptionRow& option, const InvocationState& state);
Result runGetZarnPort(const OptionRow& option, const InvocationState& state);
Result runConfigRuvo(const OptionRow& option, const InvocationState& state);
Result runHelp(const OptionRow& option, const InvocationState& state);
// Prints "zarn VERSION" and a newline on standard output.
Result runVersion(const OptionRow& option, const InvocationState& state);
