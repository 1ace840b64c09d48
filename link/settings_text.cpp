#include "link/settings_text.h"

#include <cinttypes>

#include "base/address.h"

std::string_view formatLinkSettings(SettingsText& out, const char* platformText, const char* spText,
                                    int port) {
  // The texts are plain dotted quads by now; anything else would be written as 0.
  const auto numberOf = [](const char* text) {
    return addressNumber(parseAddress(text).value_or(in_addr{}));
  };
  const FormattedText text =
      formatText(out, "sp %s 0x%08" PRIx32 "\np0 %s 0x%08" PRIx32 "\nzarn %d\n", spText,
                 numberOf(spText), platformText, numberOf(platformText), port);
  return {out.data(), text.length};
}
