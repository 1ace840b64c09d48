// Any command line: the input split at NUL bytes into the words after the
// program name. The parser only reports what to run, so nothing is run.
// A command line accepted for dispatch holds exactly one command of the table.
#include <getopt.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cli/command_table.h"
#include "cli/options.h"
#include "link/settings.h"

namespace {

constexpr std::size_t kMaxWords = 64;
constexpr std::size_t kMaxInput = 8192;

// getopt_long and the usage text write to standard error: libFuzzer's own
// option sends both standard streams to /dev/null and keeps its reports.
std::array<char*, 64> fuzzerArguments{};
char closeOutputs[] = "-close_fd_mask=3";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  int count = 0;
  for (; count < *argc && count < static_cast<int>(fuzzerArguments.size()) - 2; ++count) {
    fuzzerArguments[static_cast<std::size_t>(count)] = (*argv)[count];
  }
  fuzzerArguments[static_cast<std::size_t>(count++)] = closeOutputs;
  *argc = count;
  *argv = fuzzerArguments.data();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::array<char, kMaxInput + 1> words{};
  size = std::min(size, kMaxInput);
  std::memcpy(words.data(), data, size);
  words[size] = '\0';

  std::array<char*, kMaxWords + 2> argv{};
  char programName[] = "zarn";
  argv[0] = programName;
  int argc = 1;
  for (std::size_t at = 0; at < size && argc <= static_cast<int>(kMaxWords); ++argc) {
    argv[static_cast<std::size_t>(argc)] = &words[at];
    at += std::strlen(&words[at]) + 1;
  }

  optind = 0;
  InvocationState state = makeInvocationState(kDefaultLinkSettings);
  const ParseOutcome outcome = parseCommandLine(argc, argv.data(), state);
  const bool runsCommand = outcome.run != nullptr && outcome.run->kind == OptionKind::kCommand;
  if (runsCommand && (state.commandCount != 1 || outcome.run->letter != state.command)) {
    __builtin_trap();
  }
  return 0;
}
