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
#include "link/re_addressing.h"
#include "link/save.h"
#include "link/settings_file.h"

namespace {

AgentEndpoint platformAgent(const InvocationState& state) {
  return {state.hostIp.data(), state.agentPort, state.waitSeconds};
}

ReplyHandling replyHandling(const OptionRow& command, const InvocationState& state) {
  return {command.reply, state.waitSeconds, state.filename.data()};
}

Result exchange(const OptionRow& command, const InvocationState& state,
                const ReplyHandling& reply) {
  RequestBuffer buffer{};
  return exchangeWithAgent(platformAgent(state), formatRequest(command, state, buffer), reply);
}

// The new port is saved with the address the command went to and the link
// address of the SP, unless -g named another, once the agent confirms it.
class PortSave final : public SuccessListener {
 public:
  explicit PortSave(const InvocationState& state)
      : platform_(state.hostIp.data()),
        sp_(state.gateway.data()),
        port_(scanInt(state.newPort.data()).value_or(0)) {}

  void onSuccessReported() override { saveLinkSettings(lockSaves(), platform_, sp_, port_); }

 private:
  const char* platform_;
  const char* sp_;
  int port_;
};

}  // namespace

Result runRemote(const OptionRow& option, const InvocationState& state) {
  return exchange(option, state, replyHandling(option, state));
}

Result runSetZarnPort(const OptionRow& option, const InvocationState& state) {
  PortSave save(state);
  ReplyHandling reply = replyHandling(option, state);
  reply.onSuccess = &save;
  return exchange(option, state, reply);
}

Result runSetRuvo(const OptionRow& option, const InvocationState& state) {
  RequestBuffer buffer{};
  return reAddressLink({platformAgent(state), formatRequest(option, state, buffer),
                        state.addr.data(), state.gateway.data()});
}

Result runGetRuvo(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  return showRuvoAddresses();
}

// The stored port, modulo 65536.
Result runGetZarnPort(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  const std::optional<LinkSettings> settings = readLinkSettings();
  if (!settings) {
    return Result::kSettingsMalformed;
  }
  // Kept for callers: no newline.
  printOut("%d", static_cast<int>(static_cast<std::uint16_t>(settings->agentPort)));
  return Result::kOk;
}

Result runConfigRuvo(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  return configRuvo();
}

Result runHelp(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  printUsage();
  return Result::kOk;
}

Result runVersion(const OptionRow& /*option*/, const InvocationState& /*state*/) {
  printOut("zarn %s\n", ZARN_VERSION);
  return Result::kOk;
}
