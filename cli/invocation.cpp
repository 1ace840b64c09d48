#include "cli/invocation.h"

#include "base/address.h"

InvocationState makeInvocationState(const LinkSettings& settings) {
  InvocationState state;
  setAddressText(state.gateway, addressFromNumber(settings.spAddress));
  setAddressText(state.hostIp, addressFromNumber(settings.platformAddress));
  setText(state.filename, "cpuid.vpd");
  formatText(state.portText, "%d", settings.agentPort);
  return state;
}
