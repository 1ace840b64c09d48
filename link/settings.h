#pragma once

#include <cstdint>
#include <optional>

// The link's persistent settings: both ends' addresses (first octet most
// significant) and the platform agent's TCP port.
struct LinkSettings {
  std::uint32_t spAddress;
  std::uint32_t platformAddress;
  int agentPort;
};

inline constexpr char kSettingsPath[] = "/pstore/ruvo_config";
inline constexpr LinkSettings kDefaultLinkSettings{0xa9fe6502, 0xa9fe6503, 6789};

// What a settings file gave: `start` with the fields read before the first
// one that does not convert.
struct SettingsRead {
  LinkSettings settings;
  bool malformed;
  bool present = true;  // false: the file could not be opened
};

// Reads the settings file at `path`. A file that cannot be opened gives
// `start` unchanged; anything but a regular file is malformed.
SettingsRead readSettingsFile(const char* path, const LinkSettings& start);

// The start-up read: never fails. A missing file gives the defaults silently;
// a malformed one is reported, and its unreadable fields keep the defaults.
LinkSettings loadStartupSettings();

// The strict read: the settings (the defaults for a missing file), or none
// for a malformed file, which is reported.
std::optional<LinkSettings> readLinkSettings();
