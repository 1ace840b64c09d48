#pragma once

#include <signal.h>

// Holds back SIGALRM for as long as it lives, so that the guard timer cannot
// end the run halfway through a step that must finish or be undone; an alarm
// that falls due meanwhile fires as soon as the scope ends.
class DeferredAlarm {
 public:
  DeferredAlarm() {
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    sigprocmask(SIG_BLOCK, &alarmOnly, &previous_);
  }
  DeferredAlarm(const DeferredAlarm&) = delete;
  DeferredAlarm& operator=(const DeferredAlarm&) = delete;
  ~DeferredAlarm() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

  // The mask that was in force before, for a child that must not inherit the hold.
  [[nodiscard]] const sigset_t& previousMask() const { return previous_; }

 private:
  sigset_t previous_{};
};
