#include "cli/dispatch.h"

#include "agent/relay.h"
#include "base/output.h"
#include "cli/options.h"
#include "link/driver.h"
#include "link/interfaces.h"
#include "link/readdress.h"
#include "link/safe_text.h"
#include "link/settings.h"

int dispatchCommand(const InvocationState& state) {
  switch (state.command) {
    case 'j': return showRuvoAddresses();
    case 'O': return getZarnPort();
    default: break;
  }
  if (const int refused = refuseUnsafeTexts(state); refused < 0) {
    return refused;
  }
  return state.command == 'J' ? reAddressLink(state) : runRemoteCommand(state);
}

int runZarn(int argc, char** argv) {
  keepStandardStreamsOpen();
  InvocationState state = makeInvocationState(loadStartupSettings());
  const ParseOutcome parsed = parseCommandLine(argc, argv, state);
  switch (parsed.action) {
    case ParseAction::kConfigRuvo: return configRuvo();
    case ParseAction::kFinish: return parsed.result;
    case ParseAction::kDispatch: break;
  }
  return dispatchCommand(state);
}
