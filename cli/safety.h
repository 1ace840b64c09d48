#pragma once

#include "cli/invocation.h"

struct OptionRow;

// Refuses, with kResultInvalid and a message naming the option, a command
// whose row lists a text that is not plain: the texts it saves end up in the
// settings file, the hosts table and the agent's request.
int refuseUnsafeTexts(const OptionRow& command, const InvocationState& state);
