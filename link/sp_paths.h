#pragma once

// Where the SP keeps what zarn reads and changes. /pstore is the SP's
// persistent flash; everything else is rebuilt from it at boot.

// The link settings, which the driver is given at boot.
inline constexpr char kSettingsPath[] = "/pstore/ruvo_config";
// Only root (or whoever runs the save) can open the lock, so no one else can
// hold a save up.
inline constexpr char kSaveLockPath[] = "/pstore/zarn.lock";
// An in-place rewrite keeps its journal beside the settings, where a save can
// always write.
inline constexpr char kSettingsJournalPath[] = "/pstore/ruvo_config.zarn-journal";
inline constexpr char kHostsJournalPath[] = "/pstore/hosts.zarn-journal";

inline constexpr char kHostsPath[] = "/etc/hosts";
inline constexpr char kDriverPath[] = "/dev/ruvo/ruvo0";
// The SP's network scripts, run by the shell after a save.
inline constexpr char kNetworkScriptsLine[] =
    "/usr/local/bin/spIpConfig.sh; /usr/local/bin/addHosts.sh;";
