#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The link's persistent settings: both ends' addresses (first octet most
// significant) and the platform agent's TCP port.
struct LinkSettings {
  std::uint32_t spAddress;
  std::uint32_t platformAddress;
  int agentPort;
};

inline constexpr char kSettingsPath[] = "/pstore/ruvo_config";
inline constexpr LinkSettings kDefaultLinkSettings{0xa9fe6502, 0xa9fe6503, 6789};

// Reads the eight whitespace-separated fields of a settings text (keyword,
// address text, hex number, twice, then keyword and decimal port) into
// `settings`. Fields before the first one that does not convert are stored;
// the rest keep their values. True when all of them converted.
bool scanLinkSettings(std::string_view text, LinkSettings& settings);

// The start-up read: never fails. A missing file gives the defaults silently;
// a malformed one is reported, and its unreadable fields keep the defaults.
LinkSettings loadStartupSettings();

// The strict read: kResultOk (the defaults for a missing file) or
// kResultProtocol for a malformed one, which is reported.
int readLinkSettings(LinkSettings& settings);

// The three lines of the settings file; the numbers come from the address
// texts. Returns the length, or 0 when they do not fit `out`.
std::size_t formatLinkSettings(std::span<char> out, const char* platformText, const char* spText,
                               const char* portText);

// The `getZarnPort` command: the stored port, modulo 65536, with no newline.
int getZarnPort();
