#include "cli/options.h"

#include <getopt.h>

#include <array>
#include <iterator>

#include "base/number.h"
#include "base/output.h"
#include "base/result.h"
#include "base/trace.h"
#include "cli/command_table.h"
#include "cli/usage.h"

namespace {

constexpr std::size_t kOptionCount = std::size(kOptionTable);

// The row of the option with short letter `letter`, or nullptr.
constexpr const OptionRow* findOption(char letter) {
  for (const OptionRow& row : kOptionTable) {
    if (row.letter == letter && letter != '\0') {
      return &row;
    }
  }
  return nullptr;
}

constexpr bool takesArgument(const OptionRow& row) { return row.argument != Field::kNone; }

// The parser's short-option string, "a:bB...", from the table.
constexpr auto kShortOptions = [] {
  std::array<char, 2 * kOptionCount + 1> text{};
  std::size_t at = 0;
  for (const OptionRow& row : kOptionTable) {
    if (row.letter != '\0') {
      text[at++] = row.letter;
      if (takesArgument(row)) {
        text[at++] = ':';
      }
    }
  }
  return text;
}();

// The parser's long-option table, ended by an all-zero entry; a long-only
// option reports the value 0.
constexpr auto kLongOptions = [] {
  std::array<option, kOptionCount + 1> table{};
  for (std::size_t i = 0; i < kOptionCount; ++i) {
    const OptionRow& row = kOptionTable[i];
    table[i] = {row.longName, takesArgument(row) ? required_argument : no_argument, nullptr,
                row.letter};
  }
  return table;
}();

// The row of what the parser reported: a long-only option, whose value is 0,
// by the index the parser gives; any other by its letter. The parser returns
// only the table's letters, 0 and -1: anything else has no row.
const OptionRow* reportedOption(int option, int index) {
  if (option == 0) {
    return &kOptionTable[static_cast<std::size_t>(index)];
  }
  return findOption(static_cast<char>(option));
}

// Puts the option's argument where its row says; false for an unreadable CPU number.
bool storeArgument(const OptionRow& row, InvocationState& state, const char* argument) {
  switch (row.argument) {
    case Field::kNone: return true;
    case Field::kCpuNumber:
      if (const auto cpu = scanInt(argument)) {
        state.cpuNumber = *cpu;
        return true;
      }
      writeOut("<error>Invalid cpu #</error>\n");
      return false;
    case Field::kWaitSeconds: state.waitSeconds = scanInt(argument).value_or(0); return true;
    default: setText(*textSlot(state, row.argument), argument); return true;
  }
}

// True when exactly one command and no stray argument was given; otherwise
// the message tells what is wrong.
bool checkCommandLine(int argc, char** argv, int commandCount) {
  if (commandCount != 1) {
    // Kept for callers: the space after "<error>".
    writeOut("<error> wrong number of commands given</error>\n");
    return false;
  }
  if (optind < argc) {
    // Kept for callers: a space after every argument, the last one too.
    writeOut("<error>non-option ARGV-elements: ");
    for (int i = optind; i < argc; ++i) {
      writeOut(argv[i]);
      writeOut(" ");
    }
    writeOut("</error>\n");
    return false;
  }
  return true;
}

}  // namespace

ParseOutcome parseCommandLine(int argc, char** argv, InvocationState state) {
  const OptionRow* command = nullptr;
  for (;;) {
    int index{};
    const int option = getopt_long(argc, argv, kShortOptions.data(), kLongOptions.data(), &index);
    if (option == -1) {
      return checkCommandLine(argc, argv, state.commandCount)
                 ? ParseOutcome{command, Result::kOk, state}
                 : ParseOutcome{nullptr, Result::kCommandLineRefused, state};
    }
    // '?' is also how the parser reports an unknown option or a missing argument.
    const OptionRow* row = reportedOption(option, index);
    if (row == nullptr) {
      printUsage();
      return {nullptr, Result::kCommandLineRefused, state};
    }
    if (row->kind == OptionKind::kImmediate) {
      return {row, Result::kOk, state};
    }
    if (row->kind == OptionKind::kTrace) {
      enableTrace();
    }
    if (row->kind == OptionKind::kCommand) {
      command = row;
      ++state.commandCount;
    }
    if (!storeArgument(*row, state, optarg)) {
      return {nullptr, Result::kCommandLineRefused, state};
    }
  }
}
