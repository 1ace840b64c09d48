#pragma once

#include <span>

#include "cli/invocation.h"

// The platform's name in the SP's hosts table, both as the pattern that
// finds its line and in the line that replaces it.
inline constexpr char kPlatformHostAlias[] = "platform.ruvo.local";

// Makes new link settings permanent: rewrites the settings file (owned by
// root), replaces the platform's line in /etc/hosts and runs the SP's two
// network scripts. Problems are reported on standard output, not returned.
void saveLinkSettings(const char* platformText, const char* spText, const char* portText);

// The shell line that replaces the platform's line in /etc/hosts with
// `platformText`; false when it does not fit `out`.
bool formatHostsCommand(std::span<char> out, const char* platformText);

// Saves the new port of a `setZarnPort` command when the reply chunk, read
// as text up to its first NUL, holds the agent's confirmation.
void confirmNewPort(const char* chunk, const InvocationState& state);
