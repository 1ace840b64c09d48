#include "link/settings.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "base/output.h"
#include "base/unique_fd.h"
#include "link/settings_scan.h"

SettingsRead readSettingsFile(const char* path, const LinkSettings& start) {
  // Not blocking, so that a FIFO or a device cannot hold the run up.
  const UniqueFd file(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) {
    return {start, false};
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return {start, true};
  }
  return scanSettingsFields(file.get(), start);
}

LinkSettings loadStartupSettings() {
  const SettingsRead read = readSettingsFile(kSettingsPath, kDefaultLinkSettings);
  if (read.malformed) {
    printOut("<error>%s invalid file format</error>\n", kSettingsPath);
  }
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
