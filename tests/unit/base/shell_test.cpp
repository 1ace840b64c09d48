#include "base/shell.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>

namespace {

void onSignal(int /*signal*/) {}

void setDisposition(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

struct sigaction dispositionOf(int signal) {
  struct sigaction current {};
  ::sigaction(signal, nullptr, &current);
  return current;
}

// Each of interrupt and quit is handled by the caller in one round and ignored
// in the other. The shell gets the default action for the handled one and
// keeps ignoring the ignored one (its SigIgn mask, shifted by one, is 1 for
// SIGINT alone and 2 for SIGQUIT alone); once the line has ended, whatever its
// status, the caller's own handling is back.
TEST(ShellLine, GivesBackTheCallersSignals) {
  const struct sigaction savedInterrupt = dispositionOf(SIGINT);
  const struct sigaction savedQuit = dispositionOf(SIGQUIT);
  for (const int handled : {SIGINT, SIGQUIT}) {
    const int ignored = handled == SIGINT ? SIGQUIT : SIGINT;
    setDisposition(handled, onSignal);
    setDisposition(ignored, SIG_IGN);
    const std::string shellIgnores =
        "[ $((0x$(sed -n 's/^SigIgn:\\t*//p' /proc/$$/status) >> 1 & 3)) = " +
        std::to_string(ignored - 1) + " ]";
    EXPECT_TRUE(runShellLine(shellIgnores.c_str())) << "ignored " << ignored;
    EXPECT_FALSE(runShellLine("exit 3"));
    EXPECT_EQ(dispositionOf(handled).sa_handler, onSignal) << handled;
    EXPECT_EQ(dispositionOf(ignored).sa_handler, SIG_IGN) << ignored;
  }
  ::sigaction(SIGINT, &savedInterrupt, nullptr);
  ::sigaction(SIGQUIT, &savedQuit, nullptr);
}

}  // namespace
