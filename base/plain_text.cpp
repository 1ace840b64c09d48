#include "base/plain_text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <numeric>
#include <string_view>

bool isPlainDottedQuad(const char* text) {
  in_addr address{};
  if (::inet_pton(AF_INET, text, &address) != 1) {
    return false;
  }
  return address.s_addr != htonl(INADDR_ANY) && address.s_addr != htonl(INADDR_BROADCAST);
}

bool isPlainPort(const char* text) {
  const std::string_view view(text);
  const bool digitsOnly =
      std::all_of(view.begin(), view.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (view.empty() || view.size() > 5 || !digitsOnly) {
    return false;
  }
  const int port = std::accumulate(view.begin(), view.end(), 0,
                                   [](int value, char digit) { return value * 10 + digit - '0'; });
  return port >= 1 && port <= 65535;
}
