// Any text against the plain-address and plain-port rules. An address is
// plain exactly when inet_pton reads it and it is neither 0.0.0.0 nor
// 255.255.255.255; a port exactly when it is one to five digits worth 1..65535.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/plain_text.h"

namespace {

bool portByHand(const std::string& text) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long value = std::stoul(text);
  return value >= 1 && value <= 65535;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (text.find('\0') != std::string::npos) {
    return 0;
  }
  in_addr address{};
  const bool read = ::inet_pton(AF_INET, text.c_str(), &address) == 1;
  const bool plainAddress =
      read && address.s_addr != htonl(INADDR_ANY) && address.s_addr != htonl(INADDR_BROADCAST);
  if (isPlainDottedQuad(text.c_str()) != plainAddress ||
      isPlainPort(text.c_str()) != portByHand(text)) {
    __builtin_trap();
  }
  return 0;
}
