#include "cli/options.h"

#include <getopt.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

struct Parsed {
  ParseOutcome outcome{};
  InvocationState state = makeInvocationState(kDefaultLinkSettings);
};

Parsed parse(std::vector<std::string> words) {
  words.insert(words.begin(), "zarn");
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  Parsed parsed;
  optind = 0;
  parsed.outcome = parseCommandLine(static_cast<int>(argv.size() - 1), argv.data(), parsed.state);
  return parsed;
}

TEST(Options, NumbersAreTheLeadingInteger) {
  const std::vector<std::pair<std::string, int>> cases{
      {"3x", 3}, {"-7", -7}, {" 12", 12}, {"2147483647", INT_MAX}, {"0", 0}};
  for (const auto& [text, number] : cases) {
    const Parsed parsed = parse({"--getCpuid=" + text, "-w", text});
    EXPECT_NE(parsed.outcome.run, nullptr) << text;
    EXPECT_EQ(parsed.state.cpuNumber, number) << text;
    EXPECT_EQ(parsed.state.waitSeconds, number) << text;
  }
  EXPECT_EQ(parse({"-T", "-w", "abc"}).state.waitSeconds, 0);
  EXPECT_EQ(parse({"-T", "-w", "99999999999"}).state.waitSeconds, 0);
}

}  // namespace
