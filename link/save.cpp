#include "link/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "base/deferred_alarm.h"
#include "base/output.h"
#include "base/shell.h"
#include "base/text_slot.h"
#include "base/unique_fd.h"
#include "link/settings.h"

namespace {

constexpr char kSettingsDirectory[] = "/pstore";
constexpr char kScriptsLine[] = "/usr/local/bin/spIpConfig.sh; /usr/local/bin/addHosts.sh;";
constexpr mode_t kFileCreationMask = 033;

bool writeAndSync(const UniqueFd& file, std::span<const char> content) {
  return writeAll(file.get(), content) && ::fsync(file.get()) == 0;
}

// A new file takes mode 0644 from the creation mask; a replaced one keeps its mode.
void keepModeOfReplacedFile(const UniqueFd& file) {
  struct stat current {};
  if (::stat(kSettingsPath, &current) == 0) {
    ::fchmod(file.get(), current.st_mode & 07777);
  }
}

void syncSettingsDirectory() {
  const UniqueFd directory(::open(kSettingsDirectory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.valid()) {
    ::fsync(directory.get());
  }
}

// The settings file is replaced whole, through a temporary file beside it,
// so that it is never seen truncated or half-written. The guard timer waits
// until the temporary file is renamed or removed.
bool writeSettingsFile(std::span<const char> content) {
  const DeferredAlarm untilReplaced;
  TextSlot temporaryPath{};
  formatText(temporaryPath, "%s.%d", kSettingsPath, static_cast<int>(::getpid()));
  ::unlink(temporaryPath.data());
  UniqueFd file(::open(temporaryPath.data(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!file.valid()) {
    return false;
  }
  keepModeOfReplacedFile(file);
  // Owned by root whoever runs the save; a refusal is not an error.
  [[maybe_unused]] const int owned = ::fchown(file.get(), 0, 0);
  const bool written = writeAndSync(file, content) && file.reset() == 0 &&
                       ::rename(temporaryPath.data(), kSettingsPath) == 0;
  if (!written) {
    ::unlink(temporaryPath.data());
    return false;
  }
  syncSettingsDirectory();
  return true;
}

bool succeeded(int waitStatus) { return waitStatus == 0; }

}  // namespace

bool formatHostsCommand(std::span<char> out, const char* platformText) {
  return formatText(out,
                    "sed '/%s/d' /etc/hosts > .hosts; echo '%s  %s' >> .hosts; "
                    "cp .hosts /etc/hosts;rm .hosts;",
                    kPlatformHostAlias, platformText, kPlatformHostAlias)
      .complete;
}

void saveLinkSettings(const char* platformText, const char* spText, const char* portText) {
  ::umask(kFileCreationMask);
  std::array<char, 3 * kTextSlotSize> content{};
  const std::size_t length = formatLinkSettings(content, platformText, spText, portText);
  if (length == 0 || !writeSettingsFile(std::span<const char>(content.data(), length))) {
    printOut("Zarn: Unable to save Ruvo IP Configuration is %s\n", kSettingsPath);
    return;
  }
  TextSlot hostsCommand{};
  if (!formatHostsCommand(hostsCommand, platformText) ||
      !succeeded(runShellLine(hostsCommand.data()))) {
    writeOut("<error>Unable to save host information</error?\n");
    return;
  }
  if (!succeeded(runShellLine(kScriptsLine))) {
    writeOut("<error>spIpConfig.sh script failed</error>\n");
  }
}

void confirmNewPort(const char* chunk, const InvocationState& state) {
  if (std::strstr(chunk, "<cmdRetVal>0</cmdRetVal>") != nullptr) {
    saveLinkSettings(state.hostIp.data(), state.gateway.data(), state.newPort.data());
  }
}
