// The relay loop over an agent that sends any bytes in any chunking. The
// input is the command letter, then chunks, each a length byte (0 counts as
// 1) and that many bytes; the connection closes after the last one, with or
// without an end-of-text byte. A sequenced-packet socket pair keeps every
// chunk a read of its own, as a slow agent's writes would arrive.
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "agent/relay.h"
#include "base/unique_fd.h"
#include "link/save.h"
#include "link/settings.h"
#include "quiet_output.h"

namespace {

// Stays well inside the socket's send buffer, so that no write blocks.
constexpr int kMaxChunks = 64;

int confirmations = 0;

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

}  // namespace

// Stands in for the port save, which would write /pstore and run the SP's
// scripts; the linker takes it before the library's. It reads the chunk as
// text, as the real check does, and runs only for a setZarnPort reply.
void confirmNewPort(const char* chunk, const InvocationState& state) {
  if (state.command != 'o') {
    __builtin_trap();
  }
  if (std::strstr(chunk, "<cmdRetVal>0</cmdRetVal>") != nullptr) {
    ++confirmations;
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  sendStandardOutputToNull();
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    __builtin_trap();
  }
  UniqueFd connection(ends[0]);
  UniqueFd agent(ends[1]);
  const int chunks = sendChunks(agent, data + 1, size - 1);
  agent.reset();

  InvocationState state = makeInvocationState(kDefaultLinkSettings);
  state.command = static_cast<char>(data[0]);
  state.waitSeconds = 0;
  setText(state.filename, "-");
  confirmations = 0;
  relayReply(state, connection);
  if (confirmations > chunks) {
    __builtin_trap();
  }
  return 0;
}
