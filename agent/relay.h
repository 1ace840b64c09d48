#pragma once

#include <sys/types.h>

#include <span>

#include "base/unique_fd.h"
#include "cli/invocation.h"

// Runs a remote command: connects to the agent, sends the command's request
// and relays the reply to standard output.
int runRemoteCommand(const InvocationState& state);

// Relays the agent's reply to the request of `state.command` from
// `connection` to standard output, until the reply's end or the connection's.
int relayReply(const InvocationState& state, UniqueFd& connection);

enum class ChunkOutcome { kMore, kComplete };

// Shows one chunk of a text reply: NUL bytes as spaces, the first
// end-of-text byte as a newline, which completes the reply.
ChunkOutcome relayTextChunk(std::span<char> chunk);
