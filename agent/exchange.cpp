#include "agent/exchange.h"

#include <unistd.h>

#include <algorithm>

#include "base/output.h"
#include "base/result.h"
#include "base/trace.h"

bool sendRequest(const UniqueFd& connection, std::string_view request) {
  const ssize_t written = ::write(connection.get(), request.data(), request.size());
  traceBytes("sent", request.substr(0, static_cast<std::size_t>(std::max<ssize_t>(written, 0))));
  return written == static_cast<ssize_t>(request.size());
}

Result exchangeWithAgent(const AgentEndpoint& agent, std::string_view request,
                         const ReplyHandling& reply) {
  const UniqueFd connection = connectAgent(agent);
  if (!connection.valid()) {
    return Result::kNoConnection;
  }
  if (!sendRequest(connection, request)) {
    writeOut("<error>Unable to send command to platform</error>\n");
    return Result::kRequestNotSent;
  }
  return relayReply(connection, reply);
}
