#include "agent/relay.h"

#include <unistd.h>

#include <algorithm>
#include <array>

#include "agent/connection.h"
#include "agent/request.h"
#include "agent/vpd.h"
#include "base/output.h"
#include "base/result.h"
#include "link/save.h"

namespace {

constexpr char kEndOfText = '\x03';

// One byte more than a read asks for, so the chunk is always NUL-terminated.
using ReplyBuffer = std::array<char, 256>;
constexpr std::size_t kReadSize = sizeof(ReplyBuffer) - 1;

bool expectsNoReply(char command) { return command == 'f' || command == 'B'; }

// The request goes out in one write, whole or not at all.
bool sendRequest(const UniqueFd& connection, std::string_view request) {
  return ::write(connection.get(), request.data(), request.size()) ==
         static_cast<ssize_t>(request.size());
}

// A failed read is tried again while the guard timer bounds the retries;
// without the timer it ends the reply as a closed connection would.
ssize_t readChunk(const InvocationState& state, const UniqueFd& connection, ReplyBuffer& buffer) {
  for (;;) {
    const ssize_t n = ::read(connection.get(), buffer.data(), kReadSize);
    if (n >= 0 || state.waitSeconds <= 0) {
      return std::max<ssize_t>(n, 0);
    }
  }
}

}  // namespace

int relayReply(const InvocationState& state, UniqueFd& connection) {
  for (;;) {
    ReplyBuffer buffer{};
    if (expectsNoReply(state.command)) {
      writeOut("<returnVal>0</returnVal></zarn>\n");
      return kResultOk;
    }
    if (state.command == 'c') {
      const ssize_t n = ::read(connection.get(), buffer.data(), kReadSize);
      if (n == 0) {
        writeOut("<error>Abnormal socket closure</error></zarn>\n");
        return kResultOk;
      }
      return captureVpd(connection, buffer, n, state.filename.data());
    }
    const ssize_t n = readChunk(state, connection, buffer);
    if (state.command == 'o') {
      confirmNewPort(buffer.data(), state);
    }
    if (n == 0) {
      writeOut("<error>Abnormal socket closure</error></zarn>\n");
      return kResultOk;
    }
    const auto chunk = std::span<char>(buffer).first(static_cast<std::size_t>(n));
    if (relayTextChunk(chunk) == ChunkOutcome::kComplete) {
      return kResultOk;
    }
  }
}

ChunkOutcome relayTextChunk(std::span<char> chunk) {
  std::replace(chunk.begin(), chunk.end(), '\0', ' ');
  const auto endOfText = std::find(chunk.begin(), chunk.end(), kEndOfText);
  const bool complete = endOfText != chunk.end();
  if (complete) {
    *endOfText = '\n';
  }
  writeAll(STDOUT_FILENO, chunk);
  return complete ? ChunkOutcome::kComplete : ChunkOutcome::kMore;
}

int runRemoteCommand(const InvocationState& state) {
  UniqueFd connection;
  if (const int result =
          connectAgent(state.hostIp.data(), state.portText.data(), state.waitSeconds, connection);
      result != kResultOk) {
    return result;
  }
  RequestBuffer buffer{};
  const auto request = formatRequest(state, buffer);
  if (!request) {
    return kResultInvalid;
  }
  if (!sendRequest(connection, *request)) {
    connection.reset();
    writeOut("<error>Unable to send command to platform</error>\n");
    return kResultIo;
  }
  return relayReply(state, connection);
}
