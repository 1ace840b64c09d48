#include "base/shell.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace {

void onSignal(int /*signal*/) {}

struct sigaction dispositionOf(int signal) {
  struct sigaction current {};
  ::sigaction(signal, nullptr, &current);
  return current;
}

// The caller's interrupt and quit handling is its own again once the line
// has ended, whatever its status.
TEST(ShellLine, GivesBackTheCallersSignals) {
  struct sigaction handled {};
  handled.sa_handler = onSignal;
  sigemptyset(&handled.sa_mask);
  struct sigaction saved[2]{};
  ::sigaction(SIGINT, &handled, &saved[0]);
  ::sigaction(SIGQUIT, &handled, &saved[1]);

  EXPECT_TRUE(runShellLine("true"));
  EXPECT_FALSE(runShellLine("exit 3"));
  EXPECT_EQ(dispositionOf(SIGINT).sa_handler, onSignal);
  EXPECT_EQ(dispositionOf(SIGQUIT).sa_handler, onSignal);

  ::sigaction(SIGINT, &saved[0], nullptr);
  ::sigaction(SIGQUIT, &saved[1], nullptr);
}

}  // namespace
