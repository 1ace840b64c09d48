#include "standins/agent-sim/options.h"

#include <arpa/inet.h>
#include <getopt.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "standins/agent-sim/platform.h"
#include "standins/agent-sim/text.h"

namespace {

constexpr char kName[] = "zarn-agent-sim";

enum Id : int {
  kHelp = 'h',
  kListen = 256,
  kPort,
  kLog,
  kReady,
  kConnections,
  kScenario,
  kKeepPort,
  kNoConfirm,
  kSplitConfirm,
  kReaddress,
  kFirstBehaviour,  // the behaviour keys follow, in their table's order
};

struct GlobalOption {
  const char* name;
  Id id;
  const char* argument;  // null: takes none
  const char* help;
};

constexpr GlobalOption kGlobalOptions[] = {
    {"listen", kListen, "ADDR", "listen on the IPv4 address ADDR (default 127.0.0.1)"},
    {"port", kPort, "N", "listen on port N (default 6789; 0: any free port)"},
    {"ready", kReady, "FILE", "once listening, write the port and a newline to FILE"},
    {"log", kLog, "FILE", "append a line per connection to FILE"},
    {"connections", kConnections, "N", "serve N connections, then exit"},
    {"scenario", kScenario, "FILE", "answer each request letter as FILE says"},
    {"keep-port", kKeepPort, nullptr, "answer o without moving to the new port"},
    {"no-confirm", kNoConfirm, nullptr, "answer o with <cmdRetVal>1</cmdRetVal>"},
    {"split-confirm", kSplitConfirm, nullptr, "answer o in pieces of 12 bytes"},
    {"readdress", kReaddress, "PROG", "on J p=A s=S, run PROG A S, then listen on A"},
    {"help", kHelp, nullptr, "show this help and exit"},
};

std::vector<option> optionTable() {
  std::vector<option> table;
  for (const GlobalOption& global : kGlobalOptions) {
    table.push_back(
        {global.name, global.argument ? required_argument : no_argument, nullptr, global.id});
  }
  int id = kFirstBehaviour;
  for (const BehaviourKey& key : behaviourKeys()) {
    table.push_back(
        {key.name, key.kind == KeyKind::kFlag ? no_argument : required_argument, nullptr, id++});
  }
  table.push_back({});
  return table;
}

constexpr std::string_view kNoShortForm = "    ";

// An option whose id is a letter takes that letter as its short form too: "-h, ".
std::string shortForm(Id id) {
  return id < 256 ? std::string{'-', static_cast<char>(id), ',', ' '} : std::string(kNoShortForm);
}

void printLine(std::string_view shortPart, const char* name, std::string_view argument,
               std::string_view help) {
  std::string left = std::string(shortPart) + "--" + name;
  if (!argument.empty()) left += "=" + std::string(argument);
  (void)std::printf("  %-20s %.*s\n", left.c_str(), static_cast<int>(help.size()), help.data());
}

void printHelp() {
  (void)std::printf(
      "usage: %s [OPTION]...\n"
      "A platform agent for zarn: answers each request letter, logs it, misbehaves on request.\n",
      kName);
  for (const GlobalOption& global : kGlobalOptions) {
    printLine(shortForm(global.id), global.name, global.argument ? global.argument : "",
              global.help);
  }
  for (const BehaviourKey& key : behaviourKeys()) {
    printLine(kNoShortForm, key.name, key.argument, key.help);
  }
  (void)std::printf(
      "The manual page zarn-agent-sim(1) describes the answers and scenario files.\n");
}

int complain(const std::string& what) {
  (void)std::fprintf(stderr, "%s: %s\n", kName, what.c_str());
  return 2;
}

// Complains unless `value` is a whole number within [min, max].
std::optional<long> checkedNumber(const char* option, const char* value, long min, long max) {
  const auto number = parseNumber(value, min, max);
  if (!number) (void)complain(numberComplaint(option, value, min, max));
  return number;
}

std::optional<int> setGlobal(Id id, const char* value, SimOptions& options) {
  switch (id) {
    case kListen:
      if (inet_pton(AF_INET, value, &options.listen) != 1) {
        return complain(std::string("--listen: '") + value + "' is not an IPv4 address");
      }
      break;
    case kPort: {
      const auto port = checkedNumber("--port", value, 0, 65535);
      if (!port) return 2;
      options.port = static_cast<std::uint16_t>(*port);
      break;
    }
    case kConnections: {
      const auto count = checkedNumber("--connections", value, 1, 1L << 30);
      if (!count) return 2;
      options.connections = *count;
      break;
    }
    case kLog: options.log = value; break;
    case kReady: options.ready = value; break;
    case kKeepPort: options.keepPort = true; break;
    case kReaddress: options.readdress = value; break;
    case kNoConfirm: options.scenario.of('o').reply = std::string(kPortRefused); break;
    case kSplitConfirm: options.scenario.of('o').chunk = 12; break;
    default: break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<int> parseOptions(int argc, char** argv, SimOptions& options) {
  const std::vector<option> table = optionTable();
  const auto keys = behaviourKeys();
  const char* scenario = nullptr;
  optind = 0;
  for (int id; (id = getopt_long(argc, argv, "h", table.data(), nullptr)) != -1;) {
    if (id == '?') {
      (void)std::fprintf(stderr, "Try '%s --help'.\n", kName);
      return 2;
    }
    if (id == kHelp) {
      printHelp();
      return 0;
    }
    if (id == kScenario) {
      scenario = optarg;
    } else if (id >= kFirstBehaviour) {
      const BehaviourKey& key = keys[static_cast<std::size_t>(id - kFirstBehaviour)];
      const std::string error = setBehaviour(options.scenario.everyLetter, key, optarg);
      if (!error.empty()) return complain("--" + error);
    } else if (const auto status = setGlobal(static_cast<Id>(id), optarg, options)) {
      return status;
    }
  }
  if (optind < argc) return complain(std::string("unexpected argument '") + argv[optind] + "'");
  if (scenario != nullptr) {
    const std::string error = loadScenario(scenario, options.scenario);
    if (!error.empty()) return complain(error);
  }
  return std::nullopt;
}
