#include "agent/connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "agent/guard_timer.h"
#include "base/address.h"
#include "base/output.h"
#include "base/trace.h"

namespace {

// The connection wait is fixed; the guard timer, when shorter, ends it first.
constexpr int kConnectWaitMilliseconds = 20 * 1000;

// A dotted number, which the resolver would answer without consulting the
// name services: all digits and dots, not ending in a dot, and read by inet_aton.
// Taking it here spares loading those services on every run.
std::optional<in_addr> dottedNumber(const char* hostText) {
  const std::string_view text(hostText);
  const bool digitsAndDots = !text.empty() && text.back() != '.' &&
                             text.find_first_not_of("0123456789.") == std::string_view::npos;
  return digitsAndDots ? parseAddress(hostText) : std::nullopt;
}

std::optional<sockaddr_in> resolveAgent(const char* hostText, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (const auto number = dottedNumber(hostText)) {
    address.sin_addr = *number;
    return address;
  }
  const hostent* host = gethostbyname(hostText);
  // The lookup answers IPv4 addresses, four bytes each.
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) {
    // Kept for callers: the system's reason, whatever errno holds after a lookup.
    reportSystemError("gethostbyname");
    trace("host %s: not resolved", hostText);
    return std::nullopt;
  }
  std::memcpy(&address.sin_addr, host->h_addr_list[0], sizeof address.sin_addr);
  trace("host %s: %s", hostText, inet_ntoa(address.sin_addr));
  return address;
}

// Waits for the connection to complete. A failed wait counts as ready, as
// it would with select, so the pending error decides; poll on one valid
// socket that returns a count has reported an event for it. The socket's
// pending error, or none when the connection is lost.
std::optional<int> awaitConnection(int socket) {
  pollfd watched{socket, POLLIN | POLLOUT, 0};
  if (::poll(&watched, 1, kConnectWaitMilliseconds) == 0) {
    trace("connect: no answer after %d ms", kConnectWaitMilliseconds);
    return std::nullopt;
  }
  int pendingError = 0;
  socklen_t length = sizeof pendingError;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &pendingError, &length) != 0) {
    return std::nullopt;
  }
  return pendingError;
}

// Starts the connection without blocking and waits for it; the socket's own
// flags are restored once it is made.
bool establish(int socket, const sockaddr_in& address) {
  const int flags = ::fcntl(socket, F_GETFL);
  ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
  trace("connect %s:%d", inet_ntoa(address.sin_addr), ntohs(address.sin_port));
  const long long start = traceClockMilliseconds();
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    // Kept for callers: the system's reason after the closing tag.
    reportSystemError("<error>connect error</error>");
    trace("connect failed after %lld ms", traceClockMilliseconds() - start);
    return false;
  }
  const std::optional<int> pendingError = awaitConnection(socket);
  if (!pendingError) {
    return false;
  }
  ::fcntl(socket, F_SETFL, flags);
  if (*pendingError != 0) {
    trace("connect failed after %lld ms: %s", traceClockMilliseconds() - start,
          std::strerror(*pendingError));
    return false;
  }
  trace("connected after %lld ms", traceClockMilliseconds() - start);
  return true;
}

}  // namespace

UniqueFd connectAgent(const AgentEndpoint& agent) {
  if (agent.port < 1 || agent.port > 65535) {
    writeOut("<error>Invalid port value</error>\n");
    return UniqueFd();
  }
  if (!armGuardTimer(agent.waitSeconds)) {
    return UniqueFd();
  }
  const auto address = resolveAgent(agent.host, static_cast<std::uint16_t>(agent.port));
  if (!address) {
    return UniqueFd();
  }
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) {
    // Kept for callers: the system's reason after the closing tag.
    reportSystemError("<error>generate error</error>");
    cancelGuardTimer();
    return UniqueFd();
  }
  if (!establish(socket.get(), *address)) {
    socket.reset();
    cancelGuardTimer();
    return UniqueFd();
  }
  return socket;
}
