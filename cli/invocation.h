#pragma once

#include "base/text_slot.h"
#include "link/settings_file.h"

// One run's parsed command line, lent by the front end to the command handlers.
struct InvocationState {
  int commandCount = 0;
  int cpuNumber = 0;
  int waitSeconds = 20;
  TextSlot addr{};
  TextSlot gateway{};
  TextSlot interface {};
  TextSlot level{};
  TextSlot mask{};
  TextSlot metric{};
  TextSlot hostIp{};
  TextSlot filename{};
  TextSlot newPort{};
  int agentPort = 0;
};

// A field of the state, as the option table names it: where an option's
// argument goes, what a request holds and which texts must be plain.
enum class Field : unsigned char {
  kNone,
  kAddr,
  kGateway,
  kInterface,
  kHostIp,
  kLevel,
  kMask,
  kMetric,
  kFilename,
  kNewPort,
  kCpuNumber,
  kWaitSeconds,
  kInterfaceName,  // in a request: -name"INTERFACE" and a space, or nothing
};

// The initial state, with the defaults that come from the link settings.
InvocationState makeInvocationState(const LinkSettings& settings);

// The text slot that holds `field`, or nullptr for a field that is a number.
TextSlot* textSlot(InvocationState& state, Field field);
const TextSlot* textSlot(const InvocationState& state, Field field);
