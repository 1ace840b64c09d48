#pragma once

#include "base/unique_fd.h"

// Connects to the platform agent at `hostText` (dotted quad or host name) on
// the port in `portText`, under the guard timer armed for `waitSeconds`.
// kResultOk with `connection` set, or kResultFault. On success the guard
// timer stays armed; so it does after a pending alarm or a failed lookup.
int connectAgent(const char* hostText, const char* portText, int waitSeconds, UniqueFd& connection);
