#pragma once

#include <netinet/in.h>

#include <optional>

#include "base/result.h"

// The ruvo link driver, reached through its node (kDriverPath).

// Gives the driver the platform end's address.
Result setPlatformAddress(const char* addressText);

// Pushes the platform then the SP address of the settings file into the
// driver; a malformed file touches no driver.
Result pushLinkSettings();

// The `configRuvo` command, which SPs run at boot: under the save lock, when
// it can be had, completes or sets aside a save that a crash left unfinished,
// then pushes the settings into the driver.
Result configRuvo();

// What the driver says of the platform end's address.
struct PlatformQuery {
  bool reached;                    // false: the node could not be opened, as reported
  std::optional<in_addr> address;  // none when the driver does not answer
};

PlatformQuery queryPlatformAddress();
