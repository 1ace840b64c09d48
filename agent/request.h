#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "base/text_slot.h"
#include "cli/invocation.h"

using RequestBuffer = TextSlot;

// Builds the request that `state.command` sends to the agent, cut to 255
// characters, and returns it as a view into `buffer`. Empty for a letter
// that has no request.
std::optional<std::string_view> formatRequest(const InvocationState& state, RequestBuffer& buffer);
