#pragma once

#include "cli/invocation.h"

// Texts that end up in the settings file, in a shell line or in the agent's
// re-addressing request must be plain: a canonical dotted quad (four decimal
// numbers 0-255 without leading zeros, as inet_pton reads them) other than
// 0.0.0.0 and 255.255.255.255, or a port of digits in 1..65535.
bool isPlainDottedQuad(const char* text);
bool isPlainPort(const char* text);

// Refuses, with kResultInvalid and a message naming the option, a command
// that would save a text that is not plain: -a and -g for setRuvo; -o, -I
// and -g for setZarnPort. Other commands save nothing.
int refuseUnsafeTexts(const InvocationState& state);
