#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "base/text_slot.h"

// The link's persistent settings: both ends' addresses (first octet most
// significant) and the platform agent's TCP port.
struct LinkSettings {
  std::uint32_t spAddress;
  std::uint32_t platformAddress;
  int agentPort;
};

inline constexpr LinkSettings kDefaultLinkSettings{0xa9fe6502, 0xa9fe6503, 6789};

// The settings file: three lines of white-space separated fields, "sp
// ADDRESS 0xNUMBER", "p0 ADDRESS 0xNUMBER" and "zarn PORT". Only the numbers
// are read; the address texts are there for a person reading the file.

// What a read of the file gave.
struct SettingsRead {
  LinkSettings settings;  // the fields read, over the starting values
  bool malformed;         // a field did not convert, or the file is not a regular one
  bool present = true;    // false: the file could not be opened
};

// Reads the settings file at `path` over `start`: its numbers are stored in
// order up to the first that does not convert, which makes the file
// malformed. A file that cannot be opened gives `start` unchanged.
SettingsRead readSettingsFile(const char* path, const LinkSettings& start);

// The start-up read: never fails. A missing file gives the defaults silently;
// a malformed one is reported, and its unreadable fields keep the defaults.
LinkSettings loadStartupSettings();

// The strict read: the settings (the defaults for a missing file), or none
// for a malformed file, which is reported.
[[nodiscard]] std::optional<LinkSettings> readLinkSettings();

// Room for the three lines of the settings file, whatever its address texts.
using SettingsText = std::array<char, 4 * kTextSlotSize>;

// The file's three lines, in `out`, for the plain dotted quads `platformText`
// and `spText`: each address's text and number, then the agent port.
std::string_view formatLinkSettings(SettingsText& out, const char* platformText, const char* spText,
                                    int port);
