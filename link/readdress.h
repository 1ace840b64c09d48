#pragma once

#include "cli/invocation.h"

// The `setRuvo` command: tells the platform its new link address and the SP's,
// saves them as the link settings and reconfigures the driver from the file.
int reAddressLink(const InvocationState& state);
