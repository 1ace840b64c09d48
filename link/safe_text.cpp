#include "link/safe_text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/number.h"
#include "base/output.h"
#include "base/result.h"

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int refuseAddress(const char* option) {
  printOut("<error>Refused %s: not a dotted-quad address</error>\n", option);
  return kResultInvalid;
}

}  // namespace

bool isPlainDottedQuad(const char* text) {
  in_addr address{};
  if (::inet_pton(AF_INET, text, &address) != 1) {
    return false;
  }
  return address.s_addr != htonl(INADDR_ANY) && address.s_addr != htonl(INADDR_BROADCAST);
}

bool isPlainPort(const char* text) {
  const std::string_view view(text);
  if (view.empty() || view.size() > 5 || !std::all_of(view.begin(), view.end(), isDigit)) {
    return false;
  }
  const int port = scanInt(text).value_or(0);
  return port >= 1 && port <= 65535;
}

int refuseUnsafeTexts(const InvocationState& state) {
  if (state.command != 'J' && state.command != 'o') {
    return kResultOk;
  }
  if (state.command == 'J' && !isPlainDottedQuad(state.addr.data())) {
    return refuseAddress("-a");
  }
  if (state.command == 'o' && !isPlainPort(state.newPort.data())) {
    printOut("<error>Refused -o: not a port number in 1..65535</error>\n");
    return kResultInvalid;
  }
  if (state.command == 'o' && !isPlainDottedQuad(state.hostIp.data())) {
    return refuseAddress("-I");
  }
  if (!isPlainDottedQuad(state.gateway.data())) {
    return refuseAddress("-g");
  }
  return kResultOk;
}
