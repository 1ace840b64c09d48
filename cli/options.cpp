#include "cli/options.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "base/number.h"
#include "base/output.h"
#include "base/result.h"
#include "cli/usage.h"

namespace {

constexpr char kShortOptions[] = "a:bBc:CDdEefg:Hh:i:I:jJl:Lm:n:o:Op:st:Tvw:?";

// configRuvo must stay first: the parser reports it as the value 0 with index 0.
constexpr std::array<option, 31> kLongOptions{{
    {"configRuvo", no_argument, nullptr, 0},
    {"addr", required_argument, nullptr, 'a'},
    {"reboot", no_argument, nullptr, 'b'},
    {"forcedReboot", no_argument, nullptr, 'B'},
    {"setdns", no_argument, nullptr, 'D'},
    {"getCpuid", required_argument, nullptr, 'c'},
    {"getTemp", no_argument, nullptr, 'C'},
    {"getdns", no_argument, nullptr, 'd'},
    {"setip", no_argument, nullptr, 'E'},
    {"getip", no_argument, nullptr, 'e'},
    {"forcedShutdown", no_argument, nullptr, 'f'},
    {"gateway", required_argument, nullptr, 'g'},
    {"hbpoll", required_argument, nullptr, 'h'},
    {"getHost", no_argument, nullptr, 'H'},
    {"interface", required_argument, nullptr, 'i'},
    {"hostIp", required_argument, nullptr, 'I'},
    {"setRuvo", no_argument, nullptr, 'J'},
    {"getRuvo", no_argument, nullptr, 'j'},
    {"level", required_argument, nullptr, 'l'},
    {"getversion", no_argument, nullptr, 'L'},
    {"mask", required_argument, nullptr, 'm'},
    {"filename", required_argument, nullptr, 'n'},
    {"setZarnPort", required_argument, nullptr, 'o'},
    {"getZarnPort", no_argument, nullptr, 'O'},
    {"mcpoll", required_argument, nullptr, 'p'},
    {"shutdown", no_argument, nullptr, 's'},
    {"metric", required_argument, nullptr, 't'},
    {"getTime", no_argument, nullptr, 'T'},
    {"getfeatures", no_argument, nullptr, 'v'},
    {"wait", required_argument, nullptr, 'w'},
    {"help", no_argument, nullptr, '?'},
}};

// getopt_long wants the table ended by an all-zero entry.
constexpr auto kOptionTable = [] {
  std::array<option, kLongOptions.size() + 1> table{};
  std::copy(kLongOptions.begin(), kLongOptions.end(), table.begin());
  return table;
}();

constexpr std::string_view kCommandLetters = "bBcCDdEefhHJjLoOpsTv";

constexpr ParseOutcome finish(int result) { return {ParseAction::kFinish, result}; }

// The slot a parameter option fills, or nullptr for any other option.
TextSlot* parameterSlot(InvocationState& state, int option) {
  switch (option) {
    case 'a': return &state.addr;
    case 'g': return &state.gateway;
    case 'i': return &state.interface;
    case 'I': return &state.hostIp;
    case 'l': return &state.level;
    case 'm': return &state.mask;
    case 'n': return &state.filename;
    case 't': return &state.metric;
    default: return nullptr;
  }
}

// Records a command option; false for an unreadable CPU number.
bool takeCommand(InvocationState& state, char letter, const char* argument) {
  state.command = letter;
  ++state.commandCount;
  if (letter == 'c') {
    const auto cpu = scanInt(argument);
    if (!cpu) {
      writeOut("<error>Invalid cpu #</error>\n");
      return false;
    }
    state.cpuNumber = *cpu;
  } else if (letter == 'h' || letter == 'p') {
    setText(state.level, argument);
  } else if (letter == 'o') {
    setText(state.newPort, argument);
  }
  return true;
}

ParseOutcome checkCommandCount(int argc, char** argv, const InvocationState& state) {
  if (state.commandCount != 1) {
    writeOut("<error> wrong number of commands given</error>\n");
    return finish(kResultInvalid);
  }
  if (optind < argc) {
    writeOut("<error>non-option ARGV-elements: ");
    for (int i = optind; i < argc; ++i) {
      writeOut(argv[i]);
      writeOut(" ");
    }
    writeOut("</error>\n");
    return finish(kResultInvalid);
  }
  return {ParseAction::kDispatch, kResultOk};
}

}  // namespace

ParseOutcome parseCommandLine(int argc, char** argv, InvocationState& state) {
  for (;;) {
    int index = -1;
    const int option = getopt_long(argc, argv, kShortOptions, kOptionTable.data(), &index);
    if (option == -1) {
      return checkCommandCount(argc, argv, state);
    }
    if (option == '?') {
      printUsage();
      return finish(kResultOk);
    }
    if (option == 0 && index == 0) {
      return {ParseAction::kConfigRuvo, kResultOk};
    }
    if (TextSlot* slot = parameterSlot(state, option)) {
      setText(*slot, optarg);
    } else if (option == 'w') {
      state.waitSeconds = scanInt(optarg).value_or(0);
    } else if (option > 0 &&
               kCommandLetters.find(static_cast<char>(option)) != std::string_view::npos) {
      if (!takeCommand(state, static_cast<char>(option), optarg)) {
        return finish(kResultInvalid);
      }
    } else {
      printUsage();
      return finish(kResultInvalid);
    }
  }
}
