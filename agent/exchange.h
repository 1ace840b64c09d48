#pragma once

#include <string_view>

#include "agent/connection.h"
#include "agent/relay.h"
#include "base/result.h"

// One remote command: connects to the agent, sends `request` in one write and
// relays the reply as `reply` says. Returns the result.
Result exchangeWithAgent(const AgentEndpoint& agent, std::string_view request,
                         const ReplyHandling& reply);

// Sends `request` in one write; true when all of it was written.
[[nodiscard]] bool sendRequest(const UniqueFd& connection, std::string_view request);
