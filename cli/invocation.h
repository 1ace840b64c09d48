#pragma once

#include "base/text_slot.h"
#include "link/settings.h"

// One run's parsed command line, lent by the front end to the command handlers.
struct InvocationState {
  char command = ' ';
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
  TextSlot portText{};
};

// The initial state, with the defaults that come from the link settings.
InvocationState makeInvocationState(const LinkSettings& settings);
