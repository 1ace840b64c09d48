#include "cli/safety.h"

#include "base/output.h"
#include "base/plain_text.h"
#include "base/result.h"
#include "cli/command_table.h"

namespace {

// The letter of the option that fills `field`.
char optionFilling(Field field) {
  for (const OptionRow& row : kOptionTable) {
    if (row.argument == field) {
      return row.letter;
    }
  }
  return '?';
}

}  // namespace

int refuseUnsafeTexts(const OptionRow& command, const InvocationState& state) {
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
    return kResultInvalid;
  }
  return kResultOk;
}
