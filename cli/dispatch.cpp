#include "cli/dispatch.h"

#include <string_view>

#include "base/output.h"
#include "base/trace.h"
#include "cli/command_table.h"
#include "cli/options.h"
#include "cli/safety.h"

namespace {

// Tracing starts before the settings are read, wherever --trace stands.
void enableTraceIfAsked(int argc, char** argv) {
  for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    if (std::string_view(argv[i]) == "--trace") {
      enableTrace();
    }
  }
}

int run(const OptionRow& option, const InvocationState& state) {
  trace("command %s: host %s, port %d, gateway %s, wait %d s", option.longName, state.hostIp.data(),
        state.agentPort, state.gateway.data(), state.waitSeconds);
  if (const int refused = refuseUnsafeTexts(option, state); refused < 0) {
    return refused;
  }
  return option.handler(option, state);
}

}  // namespace

int runZarn(int argc, char** argv) {
  keepStandardStreamsOpen();
  enableTraceIfAsked(argc, argv);
  const ParseOutcome parsed =
      parseCommandLine(argc, argv, makeInvocationState(loadStartupSettings()));
  const int result = parsed.run == nullptr ? parsed.result : run(*parsed.run, parsed.state);
  trace("exit status %d", result & 0xff);
  return result;
}
