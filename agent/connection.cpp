#include "agent/connection.h"

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
#include "base/number.h"
#include "base/output.h"
#include "base/result.h"

namespace {

// The connection wait is fixed; the guard timer, when shorter, ends it first.
constexpr int kConnectWaitMilliseconds = 20 * 1000;

std::optional<std::uint16_t> agentPort(const char* portText) {
  const int port = scanInt(portText).value_or(0);
  if (port < 1 || port > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(port);
}

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
  if (host == nullptr || host->h_addr_list[0] == nullptr) {
    reportSystemError("gethostbyname");
    return std::nullopt;
  }
  const auto length =
      std::min(static_cast<std::size_t>(std::max(host->h_length, 0)), sizeof address.sin_addr);
  std::memcpy(&address.sin_addr, host->h_addr_list[0], length);
  return address;
}

// Waits for a connection in progress the way a select on a read set and a
// write set would see it; a failed wait counts as ready, so the pending
// error decides. Fills `pendingError`; false when the connection is lost.
bool awaitConnection(int socket, int& pendingError) {
  pollfd watched{socket, POLLIN | POLLOUT, POLLIN | POLLOUT};
  const int ready = ::poll(&watched, 1, kConnectWaitMilliseconds);
  if (ready == 0) {
    return false;
  }
  if (ready > 0) {
    watched.revents = static_cast<short>(watched.revents & (POLLIN | POLLOUT | POLLERR | POLLHUP));
  }
  if (watched.revents == 0) {
    writeOut("<error>select error: orig_sock not set</error>\n");
    return false;
  }
  socklen_t length = sizeof pendingError;
  return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &pendingError, &length) == 0;
}

// Starts the connection without blocking and waits for it; the socket's own
// flags are restored once it is made.
bool establish(int socket, const sockaddr_in& address) {
  const int flags = ::fcntl(socket, F_GETFL);
  ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
  int pendingError = 0;
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS) {
      reportSystemError("<error>connect error</error>");
      return false;
    }
    if (!awaitConnection(socket, pendingError)) {
      return false;
    }
  }
  ::fcntl(socket, F_SETFL, flags);
  return pendingError == 0;
}

}  // namespace

int connectAgent(const AgentEndpoint& agent, UniqueFd& connection) {
  const auto port = agentPort(agent.port);
  if (!port) {
    writeOut("<error>Invalid port value</error>\n");
    return kResultFault;
  }
  if (const int armed = armGuardTimer(agent.waitSeconds); armed != kResultOk) {
    return armed;
  }
  const auto address = resolveAgent(agent.host, *port);
  if (!address) {
    return kResultFault;
  }
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) {
    reportSystemError("<error>generate error</error>");
    cancelGuardTimer();
    return kResultFault;
  }
  if (!establish(socket.get(), *address)) {
    socket.reset();
    cancelGuardTimer();
    return kResultFault;
  }
  connection = std::move(socket);
  return kResultOk;
}
