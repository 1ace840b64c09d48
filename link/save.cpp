#include "link/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string_view>
#include <utility>

#include "base/file_replace.h"
#include "base/held_signals.h"
#include "base/in_place.h"
#include "base/output.h"
#include "base/private_lock.h"
#include "base/shell.h"
#include "base/trace.h"
#include "link/hosts_table.h"
#include "link/settings.h"
#include "link/settings_text.h"

namespace {

// Only root (or whoever runs the save) can open the lock, so no one else can
// hold a save up.
constexpr char kSaveLock[] = "/pstore/zarn.lock";
// An in-place rewrite keeps its journal beside the settings, where a save can
// always write.
constexpr char kSettingsJournal[] = "/pstore/ruvo_config.zarn-journal";
constexpr char kHostsJournal[] = "/pstore/hosts.zarn-journal";
constexpr char kScriptsLine[] = "/usr/local/bin/spIpConfig.sh; /usr/local/bin/addHosts.sh;";
constexpr mode_t kFileCreationMask = 033;

// The settings file is owned by root, whoever runs the save; a refusal is not
// an error.
bool prepareSettingsFile(FileReplacement& replacement, std::string_view content) {
  replacement.rootOwned = true;
  return prepareReplacement(replacement, kSettingsPath, kSettingsJournal,
                            [content](int file) { return writeAll(file, content); });
}

void reportSettingsUnsaved() {
  printOut("Zarn: Unable to save Ruvo IP Configuration is %s\n", kSettingsPath);
}

// The guard timer and the ending signals wait from the settings' commit to
// the hosts table's, so that a timeout leaves both files old or both new.
// True when both were committed; otherwise what was not is reported.
bool commitTogether(FileReplacement& settings, FileReplacement& hosts, bool hostsPrepared) {
  const HeldSignals untilBothCommitted;
  if (!commitReplacement(settings)) {
    abandonReplacement(hosts);
    reportSettingsUnsaved();
    return false;
  }
  if (!hostsPrepared || !commitReplacement(hosts)) {
    // The closing tag's misspelling is part of the output callers match.
    writeOut("<error>Unable to save host information</error?\n");
    return false;
  }
  return true;
}

}  // namespace

SaveLock lockSaves() {
  SaveLock lock{takePrivateLock(kSaveLock)};
  trace("save lock %s: %s", kSaveLock, lock.file.valid() ? "taken" : "not to be had");
  return lock;
}

void completeInterruptedSaves(const SaveLock& lock) {
  if (!lock.file.valid()) {
    return;
  }
  for (const auto& [target, journal] :
       {std::pair{kSettingsPath, kSettingsJournal}, std::pair{kHostsPath, kHostsJournal}}) {
    if (const std::optional<PathText> resolved = resolveLinks(target)) {
      completeInterruptedRewrite(resolved->data(), journal);
    }
  }
}

void saveLinkSettings(const SaveLock& lock, const char* platformText, const char* spText,
                      int port) {
  ::umask(kFileCreationMask);
  SettingsText content{};
  FileReplacement settings;
  FileReplacement hosts;
  if (!lock.file.valid() ||
      !prepareSettingsFile(settings, formatLinkSettings(content, platformText, spText, port))) {
    reportSettingsUnsaved();
    return;
  }
  const bool hostsPrepared = prepareHostEntry(hosts, kHostsPath, kHostsJournal, platformText);
  if (commitTogether(settings, hosts, hostsPrepared) && !runShellLine(kScriptsLine)) {
    writeOut("<error>spIpConfig.sh script failed</error>\n");
  }
}

void saveConfirmedPort(const PortChange& change) {
  saveLinkSettings(lockSaves(), change.platform, change.sp, change.port);
}
