#include "link/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string_view>
#include <utility>

#include "base/address.h"
#include "base/held_signals.h"
#include "base/output.h"
#include "base/private_lock.h"
#include "base/replacement.h"
#include "base/shell.h"
#include "base/system_log.h"
#include "base/text_slot.h"
#include "base/trace.h"
#include "link/hosts_table.h"
#include "link/settings_file.h"
#include "link/sp_paths.h"

namespace {

constexpr mode_t kFileCreationMask = 033;

bool prepareSettingsFile(FileReplacement& replacement, std::string_view content) {
  return replacement.prepare(kSettingsPath, kSettingsJournalPath,
                             [content](int file) { return writeAll(file, content); });
}

void reportSettingsUnsaved() {
  // Kept for callers: "Zarn:", and "is" where "in" was meant.
  printOut("Zarn: Unable to save Ruvo IP Configuration is %s\n", kSettingsPath);
}

enum class Committed { kNeither, kSettingsOnly, kBoth };

// The guard timer and the ending signals wait from the settings' commit to
// the hosts table's, so that a timeout leaves both files old or both new.
// What was not committed is reported.
Committed commitTogether(FileReplacement& settings, FileReplacement& hosts, bool hostsPrepared) {
  const HeldSignals untilBothCommitted;
  if (!settings.commit()) {
    reportSettingsUnsaved();
    return Committed::kNeither;
  }
  if (!hostsPrepared || !hosts.commit()) {
    // Kept for callers: the closing tag's "?".
    writeOut("<error>Unable to save host information</error?\n");
    return Committed::kSettingsOnly;
  }
  return Committed::kBoth;
}

// "platform A -> B, sp C -> D, port P -> Q", every value taken from a number,
// so that no text of the command line reaches the log as it was typed.
struct SettingsChange {
  TextSlot text{};
};

SettingsChange describeChange(const LinkSettings& old, const char* platformText, const char* spText,
                              int port) {
  SettingsChange change;
  formatText(change.text, "platform %s -> %s, sp %s -> %s, port %d -> %d",
             addressText(addressFromNumber(old.platformAddress)).data(),
             canonicalAddressText(platformText).data(),
             addressText(addressFromNumber(old.spAddress)).data(),
             canonicalAddressText(spText).data(), old.agentPort, port);
  return change;
}

void logSave(Committed committed, const SettingsChange& change) {
  switch (committed) {
    case Committed::kBoth:
      logChange(LogLevel::kNotice, "saved the link settings and the hosts table: %s",
                change.text.data());
      return;
    case Committed::kSettingsOnly:
      logChange(LogLevel::kError, "saved the link settings but not the hosts table %s: %s",
                kHostsPath, change.text.data());
      return;
    case Committed::kNeither:
      logChange(LogLevel::kError, "link settings not saved, %s could not be written: %s",
                kSettingsPath, change.text.data());
      return;
  }
}

}  // namespace

SaveLock lockSaves() {
  // Whatever follows changes the link; the timer may end it anywhere.
  prepareTimeoutLogLine("the guard timer ended a run that was changing the link");
  SaveLock lock{takePrivateLock(kSaveLockPath)};
  trace("save lock %s: %s", kSaveLockPath, lock.file.valid() ? "taken" : "not to be had");
  return lock;
}

void completeInterruptedSaves(const SaveLock& lock) {
  if (!lock.file.valid()) {
    return;
  }
  for (const auto& [target, journal] :
       {std::pair{kSettingsPath, kSettingsJournalPath}, std::pair{kHostsPath, kHostsJournalPath}}) {
    if (const std::optional<PathText> resolved = resolveLinks(target)) {
      // A rewrite that cannot be completed stops only the save that needs the file.
      static_cast<void>(completeInterruptedRewrite(resolved->data(), journal));
    }
  }
}

void saveLinkSettings(const SaveLock& lock, const char* platformText, const char* spText,
                      int port) {
  ::umask(kFileCreationMask);
  const SettingsChange change = describeChange(
      readSettingsFile(kSettingsPath, kDefaultLinkSettings).settings, platformText, spText, port);
  SettingsText content{};
  // The settings file is owned by root, whoever runs the save; a refused
  // change of owner is not an error.
  FileReplacement settings(FileReplacement::Owner::kRoot);
  FileReplacement hosts;
  if (!lock.file.valid()) {
    reportSettingsUnsaved();
    logChange(LogLevel::kError, "link settings not saved, the save lock %s could not be had: %s",
              kSaveLockPath, change.text.data());
    return;
  }
  if (!prepareSettingsFile(settings, formatLinkSettings(content, platformText, spText, port))) {
    reportSettingsUnsaved();
    logSave(Committed::kNeither, change);
    return;
  }
  const bool hostsPrepared = prepareHostEntry(hosts, kHostsPath, kHostsJournalPath, platformText);
  const Committed committed = commitTogether(settings, hosts, hostsPrepared);
  logSave(committed, change);
  if (committed == Committed::kBoth && !runShellLine(kNetworkScriptsLine)) {
    writeOut("<error>spIpConfig.sh script failed</error>\n");
    logChange(LogLevel::kWarning, "the network scripts failed after the save: %s",
              kNetworkScriptsLine);
  }
}
