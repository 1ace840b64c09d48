// The relay loop over an agent that sends any bytes in any chunking. The
// input is the reply kind, then chunks, each a length byte (0 counts as 1)
// and that many bytes; the connection closes after the last one, with or
// without an end-of-text byte. A sequenced-packet socket pair keeps every
// chunk a read of its own, as a slow agent's writes would arrive.
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "agent/relay.h"
#include "base/unique_fd.h"
#include "quiet_output.h"

namespace {

// Stays well inside the socket's send buffer, so that no write blocks.
constexpr int kMaxChunks = 64;

int chunksSeen = 0;

// Returns how many chunks were sent.
int sendChunks(const UniqueFd& agent, const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  int chunk = 0;
  for (; chunk < kMaxChunks && at < size; ++chunk) {
    const std::size_t wanted = std::max<std::size_t>(data[at++], 1);
    const std::size_t length = std::min(wanted, size - at);
    if (length == 0 || ::send(agent.get(), data + at, length, MSG_DONTWAIT) < 0) {
      break;
    }
    at += length;
  }
  return chunk;
}

// The listener sees each chunk as text, NUL-terminated within the buffer.
void countChunk(const char* chunk, const void* /*context*/) {
  if (std::strlen(chunk) > 255) {
    __builtin_trap();
  }
  ++chunksSeen;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sendStandardOutputToNull();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    __builtin_trap();
  }
  UniqueFd connection(ends[0]);
  UniqueFd agent(ends[1]);
  const int chunks = sendChunks(agent, data + 1, size - 1);
  agent.reset();

  const auto kind = static_cast<ReplyKind>(data[0] % 3);
  chunksSeen = 0;
  relayReply(connection, {kind, 0, "-", {countChunk, nullptr}});
  // Every chunk is offered once, and the closing read that ends a reply without ETX.
  if (chunksSeen > chunks + 1 || (kind != ReplyKind::kText && chunksSeen != 0)) {
    __builtin_trap();
  }
  return 0;
}
