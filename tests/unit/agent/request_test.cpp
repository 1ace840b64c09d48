#include "agent/request.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// Every field distinct, so that each format shows which fields it takes.
InvocationState filledState(char command) {
  InvocationState state;
  state.command = command;
  state.cpuNumber = 2;
  setText(state.addr, "1.2.3.4");
  setText(state.mask, "255.0.0.0");
  setText(state.gateway, "1.2.3.1");
  setText(state.level, "7");
  setText(state.newPort, "7000");
  setText(state.metric, "9");
  return state;
}

std::string requestOf(const InvocationState& state) {
  RequestBuffer buffer{};
  const auto request = formatRequest(state, buffer);
  return request ? std::string(*request) : "(none)";
}

TEST(Request, FieldsAreSentAsTheyStand) {
  InvocationState named = filledState('E');
  setText(named.interface, "eth0");
  EXPECT_EQ(requestOf(named), "E -name\"eth0\" 1.2.3.4 255.0.0.0 1.2.3.1");
  EXPECT_EQ(requestOf(InvocationState{.command = 'E'}), "E   ");
  EXPECT_EQ(requestOf(InvocationState{.command = 'c', .cpuNumber = INT_MIN}), "c -2147483648");
}

TEST(Request, CutTo255Characters) {
  const std::string full(255, 'y');
  InvocationState state = filledState('D');
  setText(state.addr, full.c_str());
  EXPECT_EQ(requestOf(state), "D " + full.substr(0, 253));
  state.command = 'E';
  setText(state.interface, full.c_str());
  EXPECT_EQ(requestOf(state), ("E -name\"" + full).substr(0, 255));
}

}  // namespace
