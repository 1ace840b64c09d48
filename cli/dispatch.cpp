#include "cli/dispatch.h"

#include <string_view>

#include "base/output.h"
#include "base/plain_text.h"
#include "base/result.h"
#include "base/trace.h"
#include "cli/command_table.h"
#include "cli/options.h"

namespace {

// Tracing starts before the settings are read, wherever --trace stands.
void enableTraceIfAsked(int argc, char** argv) {
  for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    if (std::string_view(argv[i]) == "--trace") {
      enableTrace();
    }
  }
}

// The letter of the option that fills `field`.
char optionFilling(Field field) {
  for (const OptionRow& row : kOptionTable) {
    if (row.argument == field) {
      return row.letter;
    }
  }
  return '?';
}

// The texts a command saves end up in the settings file, the hosts table and
// the agent's request: each one its row lists must be plain, or the command
// is refused with a message naming the option.
Result refuseTextsNotPlain(const OptionRow& command, const InvocationState& state) {
  for (const Field field : command.plain) {
    if (field == Field::kNone) {
      break;
    }
    const char* text = textSlot(state, field)->data();
    const bool isPort = field == Field::kNewPort;
    if (isPort ? isPlainPort(text) : isPlainDottedQuad(text)) {
      continue;
    }
    if (isPort) {
      printOut("<error>Refused -%c: not a port number in 1..65535</error>\n", optionFilling(field));
    } else {
      printOut("<error>Refused -%c: not a dotted-quad address</error>\n", optionFilling(field));
    }
    return Result::kCommandLineRefused;
  }
  return Result::kOk;
}

Result run(const OptionRow& option, const InvocationState& state) {
  trace("command %s: host %s, port %d, gateway %s, wait %d s", option.longName, state.hostIp.data(),
        state.agentPort, state.gateway.data(), state.waitSeconds);
  if (const Result refused = refuseTextsNotPlain(option, state); failed(refused)) {
    return refused;
  }
  return option.handler(option, state);
}

}  // namespace

int runZarn(int argc, char** argv) {
  keepStandardStreamsOpen();
  enableTraceIfAsked(argc, argv);
  const ParseOutcome parsed =
      parseCommandLine(argc, argv, makeInvocationState(loadStartupSettings()));
  const int status =
      exitValue(parsed.run == nullptr ? parsed.result : run(*parsed.run, parsed.state));
  trace("exit status %d", status & 0xff);
  return status;
}
