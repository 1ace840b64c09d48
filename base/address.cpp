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

TextSlot addressText(in_addr address) {
  TextSlot text{};
  setAddressText(text, address);
  return text;
}

TextSlot canonicalAddressText(const char* text) {
  const std::optional<in_addr> address = parseAddress(text);
  if (address) {
    return addressText(*address);
  }
  TextSlot invalid{};
  setText(invalid, "invalid");
  return invalid;
}
