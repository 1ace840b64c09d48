#pragma once

#include <sys/types.h>

#include <span>

#include "cli/invocation.h"

// Runs a remote command: connects to the agent, sends the command's request
// and relays the reply to standard output.
int runRemoteCommand(const InvocationState& state);

enum class ChunkOutcome { kMore, kComplete };

// Shows one chunk of a text reply: NUL bytes as spaces, the first
// end-of-text byte as a newline, which completes the reply.
ChunkOutcome relayTextChunk(std::span<char> chunk);
