#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>

#include "base/text_slot.h"

// An address number holds the first octet in its most significant byte on
// every machine; in_addr holds the same address in network byte order.
inline std::uint32_t addressNumber(in_addr address) { return ntohl(address.s_addr); }
inline in_addr addressFromNumber(std::uint32_t number) { return in_addr{htonl(number)}; }

// The address `inet_aton` reads from `text`, if it reads one.
[[nodiscard]] std::optional<in_addr> parseAddress(const char* text);

// Dotted-quad text of `address`.
void setAddressText(TextSlot& slot, in_addr address);
TextSlot addressText(in_addr address);

// The dotted quad of the address `inet_aton` reads from `text`, or "invalid":
// never the text as it was typed.
TextSlot canonicalAddressText(const char* text);
