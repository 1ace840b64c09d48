#include "base/address.h"

#include <arpa/inet.h>

std::optional<in_addr> parseAddress(const char* text) {
  in_addr address{};
  if (inet_aton(text, &address) == 0) {
    return std::nullopt;
  }
  return address;
}

void setAddressText(TextSlot& slot, in_addr address) { setText(slot, inet_ntoa(address)); }
