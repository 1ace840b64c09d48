#include "cli/commands.h"

#include <cstring>

#include "agent/exchange.h"
#include "base/output.h"
#include "base/result.h"
#include "cli/command_table.h"
#include "cli/request.h"
#include "cli/usage.h"
#include "link/driver.h"
#include "link/interfaces.h"
#include "link/readdress.h"
#include "link/save.h"
#include "link/settings.h"

namespace {

AgentEndpoint platformAgent(const InvocationState& state) {
  return {state.hostIp.data(), state.portText.data(), state.waitSeconds};
}

int exchange(const OptionRow& command, const InvocationState& state, ChunkListener listener) {
  RequestBuffer buffer{};
  const std::string_view request = formatRequest(command, state, buffer);
  return exchangeWithAgent(platformAgent(state), request,
                           {command.reply, state.waitSeconds, state.filename.data(), listener});
}

// The agent confirms a new port within one chunk, before any NUL byte in it.
// The platform text is the address the command went to; the SP text is the
// link address unless -g named another.
void saveConfirmedPort(const char* chunk, const void* context) {
  const auto& state = *static_cast<const InvocationState*>(context);
  if (std::strstr(chunk, "<cmdRetVal>0</cmdRetVal>") != nullptr) {
    saveLinkSettings(lockSaves(), state.hostIp.data(), state.gateway.data(), state.newPort.data());
  }
}

}  // namespace

int runRemote(const OptionRow& option, const InvocationState& state) {
  return exchange(option, state, {});
}

int runSetZarnPort(const OptionRow& option, const InvocationState& state) {
  return exchange(option, state, {saveConfirmedPort, &state});
}

int runSetRuvo(const OptionRow& option, const InvocationState& state) {
  RequestBuffer buffer{};
  return reAddressLink({platformAgent(state), formatRequest(option, state, buffer),
                        state.addr.data(), state.gateway.data()});
}

int runGetRuvo(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  return showRuvoAddresses();
}

int runGetZarnPort(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  return getZarnPort();
}

int runConfigRuvo(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  return configRuvo();
}

int runHelp(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  printUsage();
  return kResultOk;
}

int runVersion(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  printOut("zarn %s\n", ZARN_VERSION);
  return kResultOk;
}
