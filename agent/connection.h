#pragma once

#include "base/unique_fd.h"

// Where the platform agent listens, and how long the whole exchange with it
// may take.
struct AgentEndpoint {
  const char* host;  // dotted quad or host name
  const char* port;  // decimal text, checked to lie in 1..65535
  int waitSeconds;   // the guard timer; none when zero or negative
};

// Connects to the agent under the guard timer. kResultOk with `connection`
// set, or kResultFault. On success the guard timer stays armed; so it does
// after a pending alarm or a failed lookup.
int connectAgent(const AgentEndpoint& agent, UniqueFd& connection);
