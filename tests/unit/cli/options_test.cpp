#include "cli/options.h"

#include <getopt.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "capture_output.h"

namespace {

struct Parsed {
  ParseOutcome outcome{};
  InvocationState state = makeInvocationState(kDefaultLinkSettings);
  std::string out;
  std::string err;
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
  parsed.err = captureOutput(STDERR_FILENO, [&] {
    parsed.out = captureOutput(STDOUT_FILENO, [&] {
      const int argc = static_cast<int>(argv.size() - 1);
      parsed.outcome = parseCommandLine(argc, argv.data(), parsed.state);
    });
  });
  return parsed;
}

struct OutcomeCase {
  std::vector<std::string> words;
  ParseAction action;
  int result;
  std::string out;
  bool usage;
};

constexpr char kWrongCount[] = "<error> wrong number of commands given</error>\n";
constexpr char kBadCpu[] = "<error>Invalid cpu #</error>\n";
constexpr char kStrayWords[] = "<error>non-option ARGV-elements: extra more </error>\n";

TEST(Options, OutcomeAndMessages) {
  const std::vector<OutcomeCase> cases{
      {{}, ParseAction::kFinish, -22, kWrongCount, false},
      {{"-b", "-s"}, ParseAction::kFinish, -22, kWrongCount, false},
      {{"-b", "-b"}, ParseAction::kFinish, -22, kWrongCount, false},
      {{"-T"}, ParseAction::kDispatch, 0, "", false},
      {{"-t", "5", "-b"}, ParseAction::kDispatch, 0, "", false},
      {{"-b", "extra", "more"}, ParseAction::kFinish, -22, kStrayWords, false},
      {{"extra", "-T", "more"}, ParseAction::kFinish, -22, kStrayWords, false},
      {{"-c", "abc", "-x"}, ParseAction::kFinish, -22, kBadCpu, false},
      {{"-c", "99999999999"}, ParseAction::kFinish, -22, kBadCpu, false},
      {{"-x"}, ParseAction::kFinish, 0, "", true},
      {{"-?"}, ParseAction::kFinish, 0, "", true},
      {{"--help"}, ParseAction::kFinish, 0, "", true},
      {{"-c"}, ParseAction::kFinish, 0, "", true},
      {{"--getT"}, ParseAction::kFinish, 0, "", true},
      {{"--reboot=now"}, ParseAction::kFinish, 0, "", true},
      {{"-b", "--configRuvo", "-x"}, ParseAction::kConfigRuvo, 0, "", false},
      {{"--configR"}, ParseAction::kConfigRuvo, 0, "", false},
  };
  for (const OutcomeCase& c : cases) {
    const Parsed parsed = parse(c.words);
    const std::string words = testing::PrintToString(c.words);
    EXPECT_EQ(parsed.outcome.action, c.action) << words;
    EXPECT_EQ(parsed.outcome.result, c.result) << words;
    EXPECT_EQ(parsed.out, c.out) << words;
    EXPECT_EQ(parsed.err.find("Usage: zarn") != std::string::npos, c.usage) << words;
  }
}

TEST(Options, DefaultsComeFromTheLinkSettings) {
  const InvocationState state = makeInvocationState({0x0a000002, 0x0a000003, 7000});
  EXPECT_EQ(textOf(state.gateway), "10.0.0.2");
  EXPECT_EQ(textOf(state.hostIp), "10.0.0.3");
  EXPECT_EQ(textOf(state.portText), "7000");
}

TEST(Options, NumbersAreTheLeadingInteger) {
  const std::vector<std::pair<std::string, int>> cases{
      {"3x", 3}, {"-7", -7}, {" 12", 12}, {"2147483647", INT_MAX}, {"0", 0}};
  for (const auto& [text, number] : cases) {
    const Parsed parsed = parse({"--getCpuid=" + text, "-w", text});
    EXPECT_EQ(parsed.outcome.action, ParseAction::kDispatch) << text;
    EXPECT_EQ(parsed.state.cpuNumber, number) << text;
    EXPECT_EQ(parsed.state.waitSeconds, number) << text;
  }
  EXPECT_EQ(parse({"-T", "-w", "abc"}).state.waitSeconds, 0);
  EXPECT_EQ(parse({"-T", "-w", "99999999999"}).state.waitSeconds, 0);
}

}  // namespace
