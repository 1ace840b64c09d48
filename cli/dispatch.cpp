#include "cli/dispatch.h"

#include "base/output.h"
#include "cli/command_table.h"
#include "cli/options.h"
#include "cli/safety.h"

int runZarn(int argc, char** argv) {
  keepStandardStreamsOpen();
  const ParseOutcome parsed =
      parseCommandLine(argc, argv, makeInvocationState(loadStartupSettings()));
  if (parsed.run == nullptr) {
    return parsed.result;
  }
  if (const int refused = refuseUnsafeTexts(*parsed.run, parsed.state); refused < 0) {
    return refused;
  }
  return parsed.run->handler(*parsed.run, parsed.state);
}
