#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/text_slot.h"

// The link's persistent settings: both ends' addresses (first octet most
// significant) and the platform agent's TCP port.
struct LinkSettings {
  std::uint32_t spAddress;
  std::uint32_t platformAddress;
  int agentPort;
};

inline constexpr char kSettingsPath[] = "/pstore/ruvo_config";
inline constexpr LinkSettings kDefaultLinkSettings{0xa9fe6502, 0xa9fe6503, 6789};

enum class SettingsFile { kMissing, kMalformed, kRead };

// Reads the settings file at `path`: eight whitespace-separated fields
// (keyword, address text, hexadecimal number, twice, then keyword and decimal
// port), scanned by the C library's stream rules for "%s %s %lx %s %s %lx %s
// %d" however long the file is. Fields before the first one that does not
// convert are stored in `settings`; the rest keep their values. A file that
// cannot be opened is missing; anything but a regular file is malformed.
SettingsFile readSettingsFile(const char* path, LinkSettings& settings);

// The start-up read: never fails. A missing file gives the defaults silently;
// a malformed one is reported, and its unreadable fields keep the defaults.
LinkSettings loadStartupSettings();

// The strict read: kResultOk (the defaults for a missing file) or
// kResultProtocol for a malformed one, which is reported.
int readLinkSettings(LinkSettings& settings);

// Room for the three lines of the settings file with three full text slots.
using SettingsText = std::array<char, 4 * kTextSlotSize>;

// The three lines of the settings file, in `out`; the numbers come from the
// address texts.
std::string_view formatLinkSettings(SettingsText& out, const char* platformText, const char* spText,
                                    const char* portText);

// The `getZarnPort` command: the stored port, modulo 65536, with no newline.
int getZarnPort();
