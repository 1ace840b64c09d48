#pragma once

#include "base/unique_fd.h"

// One save at a time: whoever changes the link's settings holds this lock,
// a file in the settings directory that only root can open, for as long as
// the change lasts. A second run waits for it, bounded by its guard timer
// (whose handler ends the run).
struct SaveLock {
  UniqueFd file;  // no descriptor when the lock cannot be had
};

[[nodiscard]] SaveLock lockSaves();

// Under `lock`, completes (or sets aside) the journal of an in-place rewrite
// of the settings file or the hosts table that a killed run left behind, as
// every save does before it reads them.
void completeInterruptedSaves(const SaveLock& lock);

// Makes new link settings permanent under `lock`: replaces the settings file
// (owned by root) and the platform's line in the hosts table together, then
// runs the SP's two network scripts. Problems are reported on standard
// output, not returned.
void saveLinkSettings(const SaveLock& lock, const char* platformText, const char* spText, int port);
