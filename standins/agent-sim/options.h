#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

#include "standins/agent-sim/scenario.h"

struct SimOptions {
  in_addr listen{htonl(INADDR_LOOPBACK)};
  std::uint16_t port = 6789;  // 0: any free port
  std::string log;
  std::string ready;
  long connections = 0;   // 0: serve until killed
  bool keepPort = false;  // answer `o` without moving
  std::string readdress;  // run on `J`, then listen on its address; empty: stay
  Scenario scenario;
};

// Fills `options` from the command line. Returns the exit status when the run
// ends here: 0 after --help, 2 after a complaint on standard error.
std::optional<int> parseOptions(int argc, char** argv, SimOptions& options);
