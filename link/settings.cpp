#include "link/settings.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "base/address.h"
#include "base/output.h"
#include "base/trace.h"
#include "base/unique_fd.h"
#include "link/settings_scan.h"

SettingsRead readSettingsFile(const char* path, const LinkSettings& start) {
  // Not blocking, so that a FIFO or a device cannot hold the run up.
  const UniqueFd file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) {
    return {start, false, false};
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return {start, true};
  }
  return scanSettingsFields(file.get(), start);
}

namespace {

void traceSettings(const SettingsRead& read) {
  if (!tracing()) {
    return;
  }
  trace("settings %s: %s: sp %s, platform %s, port %d", kSettingsPath,
        !read.present    ? "none, built-in"
        : read.malformed ? "malformed, built-in from the first unreadable field"
                         : "read",
        addressText(addressFromNumber(read.settings.spAddress)).data(),
        addressText(addressFromNumber(read.settings.platformAddress)).data(),
        read.settings.agentPort);
}

}  // namespace

LinkSettings loadStartupSettings() {
  const SettingsRead read = readSettingsFile(kSettingsPath, kDefaultLinkSettings);
  if (read.malformed) {
    printOut("<error>%s invalid file format</error>\n", kSettingsPath);
  }
  traceSettings(read);
  return read.settings;
}

std::optional<LinkSettings> readLinkSettings() {
  const SettingsRead read = readSettingsFile(kSettingsPath, kDefaultLinkSettings);
  if (read.malformed) {
    printOut("<error>%s invalid format</error>\n", kSettingsPath);
    return std::nullopt;
  }
  return read.settings;
}
