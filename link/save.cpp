#include "link/save.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "base/file_replace.h"
#include "base/output.h"
#include "base/shell.h"
#include "base/unique_fd.h"
#include "link/hosts_table.h"
#include "link/settings.h"

namespace {

constexpr char kSettingsDirectory[] = "/pstore";
constexpr char kScriptsLine[] = "/usr/local/bin/spIpConfig.sh; /usr/local/bin/addHosts.sh;";
constexpr mode_t kFileCreationMask = 033;

// One save at a time: a second run waits here, bounded by its guard timer
// (whose handler ends the run), until the first has written both files and
// run the scripts.
UniqueFd waitForOtherSaves() {
  UniqueFd directory(::open(kSettingsDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.valid() && ::flock(directory.get(), LOCK_EX) != 0) {
    directory.reset();
  }
  return directory;
}

// The settings file is owned by root, whoever runs the save; a refusal is not
// an error.
bool writeSettingsFile(std::string_view content) {
  return replaceFile(kSettingsPath, [content](int file) {
    [[maybe_unused]] const int owned = ::fchown(file, 0, 0);
    return writeAll(file, content);
  });
}

}  // namespace

void saveLinkSettings(const char* platformText, const char* spText, const char* portText) {
  ::umask(kFileCreationMask);
  const UniqueFd saveLock = waitForOtherSaves();
  SettingsText content{};
  if (!saveLock.valid() ||
      !writeSettingsFile(formatLinkSettings(content, platformText, spText, portText))) {
    printOut("Zarn: Unable to save Ruvo IP Configuration is %s\n", kSettingsPath);
    return;
  }
  // The closing tag's misspelling is part of the output callers match.
  if (!setPlatformHostEntry(kHostsPath, platformText)) {
    writeOut("<error>Unable to save host information</error?\n");
    return;
  }
  if (!runShellLine(kScriptsLine)) {
    writeOut("<error>spIpConfig.sh script failed</error>\n");
  }
}
