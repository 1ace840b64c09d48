// zarn-agent-sim: a platform agent for tests and development. It answers
// each request letter with a plausible reply, keeps the platform's state and
// misbehaves on request.
#include "standins/agent-sim/options.h"
#include "standins/agent-sim/server.h"

int main(int argc, char** argv) {
  SimOptions options;
  if (const auto status = parseOptions(argc, argv, options)) return *status;
  return runServer(options);
}
