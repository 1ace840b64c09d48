#pragma once

#include <signal.h>

// Holds back the signals that end a run (the guard timer's alarm, SIGINT,
// SIGTERM, SIGHUP) for as long as it lives, so that none of them can stop a
// step that must finish; one that falls due meanwhile acts as soon as the
// scope ends.
//
// Signal sets here start value-initialised, which on Linux is the empty set.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t ending{};
    for (const int signalNumber : {SIGALRM, SIGINT, SIGTERM, SIGHUP}) {
      sigaddset(&ending, signalNumber);
    }
    sigprocmask(SIG_BLOCK, &ending, &previous_);
  }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;
  ~HeldSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_{};
};
