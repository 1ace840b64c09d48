#include "cli/commands.h"

#include <cstdint>
#include <optional>

#include "agent/exchange.h"
#include "base/number.h"
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
  return {state.hostIp.data(), state.agentPort, state.waitSeconds};
}

ReplyHandling replyHandling(const OptionRow& command, const InvocationState& state) {
  return {command.reply, state.waitSeconds, state.filename.data()};
}

int exchange(const OptionRow& command, const InvocationState& state, const ReplyHandling& reply) {
  RequestBuffer buffer{};
  return exchangeWithAgent(platformAgent(state), formatRequest(command, state, buffer), reply);
}

}  // namespace

int runRemote(const OptionRow& option, const InvocationState& state) {
  return exchange(option, state, replyHandling(option, state));
}

// The new port is saved with the address the command went to and the link
// address of the SP, unless -g named another.
int runSetZarnPort(const OptionRow& option, const InvocationState& state) {
  ReplyHandling reply = replyHandling(option, state);
  reply.onPortConfirmed = saveConfirmedPort;
  reply.portChange = {state.hostIp.data(), state.gateway.data(),
                      scanInt(state.newPort.data()).value_or(0)};
  return exchange(option, state, reply);
}

int runSetRuvo(const OptionRow& option, const InvocationState& state) {
  RequestBuffer buffer{};
  return reAddressLink({platformAgent(state), formatRequest(option, state, buffer),
                        state.addr.data(), state.gateway.data()});
}

int runGetRuvo(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  return showRuvoAddresses();
}

// The stored port, modulo 65536, with no newline.
int runGetZarnPort(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  const std::optional<LinkSettings> settings = readLinkSettings();
  if (!settings) {
    return kResultProtocol;
  }
  printOut("%d", static_cast<int>(static_cast<std::uint16_t>(settings->agentPort)));
  return kResultOk;
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
