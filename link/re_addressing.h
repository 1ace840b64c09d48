#pragma once

#include <string_view>

#include "agent/connection.h"
#include "base/result.h"

// A move of the link to new addresses.
struct ReAddressing {
  AgentEndpoint platform;  // the platform as it is reached now
  std::string_view request;
  const char* newPlatformAddress;
  const char* spAddress;
};

// The `setRuvo` command: gives the driver the platform's current address,
// tells the platform its new address and the SP's, saves them as the link
// settings and reconfigures the driver from the file.
Result reAddressLink(const ReAddressing& move);
