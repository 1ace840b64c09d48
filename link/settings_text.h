#pragma once

#include <array>
#include <string_view>

#include "base/text_slot.h"

// Room for the three lines of the settings file, whatever its address texts.
using SettingsText = std::array<char, 4 * kTextSlotSize>;

// The three lines of the settings file, in `out`: the SP's address text and
// number, the platform's, and the agent port. The numbers come from the
// address texts.
std::string_view formatLinkSettings(SettingsText& out, const char* platformText, const char* spText,
                                    int port);
