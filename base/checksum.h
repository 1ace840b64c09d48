#pragma once

#include <cstdint>
#include <span>

// CRC-32 (the polynomial of zlib and Ethernet). Start from kCrc32Start, feed
// the bytes in order, and finish with crc32Value.
inline constexpr std::uint32_t kCrc32Start = 0xffffffff;

std::uint32_t crc32Add(std::uint32_t crc, std::span<const char> bytes);

constexpr std::uint32_t crc32Value(std::uint32_t crc) { return ~crc; }
