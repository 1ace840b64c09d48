#pragma once

#include "base/result.h"

// The `getRuvo` command: the platform end's address padded to 25 columns,
// then every IPv4 address of the link interface "ruvo0", one per line.
Result showRuvoAddresses();
