#include "base/checksum.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> crc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) {
      c = (c & 1U) != 0 ? 0xedb88320U ^ (c >> 1U) : c >> 1U;
    }
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kTable = crc32Table();

}  // namespace

std::uint32_t crc32Add(std::uint32_t crc, std::span<const char> bytes) {
  for (const char byte : bytes) {
    crc = kTable[(crc ^ static_cast<unsigned char>(byte)) & 0xffU] ^ (crc >> 8U);
  }
  return crc;
}
