#pragma once

#include <string_view>

#include "base/text_slot.h"
#include "cli/invocation.h"

struct OptionRow;

using RequestBuffer = TextSlot;

// The request `command` sends to the agent, built from its row's format and
// the state's fields and cut to 255 characters, as a view into `buffer`.
std::string_view formatRequest(const OptionRow& command, const InvocationState& state,
                               RequestBuffer& buffer);
