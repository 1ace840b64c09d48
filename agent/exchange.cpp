#include "agent/exchange.h"

#include <unistd.h>

#include "base/output.h"
#include "base/result.h"

bool sendRequest(const UniqueFd& connection, std::string_view request) {
  return ::write(connection.get(), request.data(), request.size()) ==
         static_cast<ssize_t>(request.size());
}

int exchangeWithAgent(const AgentEndpoint& agent, std::string_view request,
                      const ReplyHandling& reply) {
  const UniqueFd connection = connectAgent(agent);
  if (!connection.valid()) {
    return kResultFault;
  }
  if (!sendRequest(connection, request)) {
    writeOut("<error>Unable to send command to platform</error>\n");
    return kResultIo;
  }
  return relayReply(connection, reply);
}
