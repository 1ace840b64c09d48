#pragma once

#include "base/unique_fd.h"

// Where the platform agent listens, and how long the whole exchange with it
// may take.
struct AgentEndpoint {
  const char* host;  // dotted quad or host name
  int port;          // checked to lie in 1..65535
  int waitSeconds;   // the guard timer; none when zero or negative
};

// Connects to the agent under the guard timer: the connection, or no
// descriptor when it could not be made (reported where there is something
// to say). On success the guard timer stays armed; so it does after a
// pending alarm or a failed lookup.
[[nodiscard]] UniqueFd connectAgent(const AgentEndpoint& agent);
