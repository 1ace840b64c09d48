#include "cli/invocation.h"

#include <utility>

#include "base/address.h"

InvocationState makeInvocationState(const LinkSettings& settings) {
  InvocationState state;
  setAddressText(state.gateway, addressFromNumber(settings.spAddress));
  setAddressText(state.hostIp, addressFromNumber(settings.platformAddress));
  setText(state.filename, "cpuid.vpd");
  state.agentPort = settings.agentPort;
  return state;
}

const TextSlot* textSlot(const InvocationState& state, Field field) {
  switch (field) {
    case Field::kAddr: return &state.addr;
    case Field::kGateway: return &state.gateway;
    case Field::kInterface: return &state.interface;
    case Field::kHostIp: return &state.hostIp;
    case Field::kLevel: return &state.level;
    case Field::kMask: return &state.mask;
    case Field::kMetric: return &state.metric;
    case Field::kFilename: return &state.filename;
    case Field::kNewPort: return &state.newPort;
    case Field::kNone:
    case Field::kCpuNumber:
    case Field::kWaitSeconds:
    case Field::kInterfaceName: break;
  }
  return nullptr;
}

TextSlot* textSlot(InvocationState& state, Field field) {
  return const_cast<TextSlot*>(textSlot(std::as_const(state), field));
}
