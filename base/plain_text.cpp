#include "base/plain_text.h"

#include <arpa/inet.h>

#include <string_view>

#include "base/number.h"

bool isPlainDottedQuad(const char* text) {
  in_addr address{};
  if (::inet_pton(AF_INET, text, &address) != 1) {
    return false;
  }
  return address.s_addr != htonl(INADDR_ANY) && address.s_addr != htonl(INADDR_BROADCAST);
}

bool isPlainPort(const char* text) {
  const std::string_view view(text);
  return view.size() <= 5 && digitsValue(view, 65535).value_or(0) >= 1;
}
