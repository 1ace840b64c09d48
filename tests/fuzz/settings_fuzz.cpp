// Any bytes as the link settings file. A text that scans completely must
// scan again to the same values once written back in the file's format.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/text_slot.h"
#include "link/settings.h"
#include "quiet_output.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sendStandardOutputToNull();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  LinkSettings settings = kDefaultLinkSettings;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!scanLinkSettings(text, settings)) {
    return 0;
  }
  TextSlot written{};
  formatText(written, "sp - 0x%08x\np0 - 0x%08x\nzarn %d\n", settings.spAddress,
             settings.platformAddress, settings.agentPort);
  LinkSettings reread{};
  if (!scanLinkSettings(textOf(written), reread) || reread.spAddress != settings.spAddress ||
      reread.platformAddress != settings.platformAddress ||
      reread.agentPort != settings.agentPort) {
    __builtin_trap();
  }
  return 0;
}
