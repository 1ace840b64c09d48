// The relay over an agent that sends any bytes in any chunking. The input is
// the reply kind, then chunks, each a length byte (0 counts as 1) and that
// many bytes; the connection closes after the last one. A sequenced-packet
// socket pair keeps every chunk a read of its own, as a slow agent's writes
// would arrive, and within the socket's buffer, so that no write blocks.
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "agent/relay.h"
#include "base/unique_fd.h"
#include "quiet_output.h"

namespace {

constexpr int kMaxChunks = 64;

struct SuccessCount final : SuccessListener {
  int count = 0;
  void onSuccessReported() override { ++count; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sendStandardOutputToNull();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int ends[2];
  if (size == 0 || ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    return 0;
  }
  const UniqueFd connection(ends[0]);
  UniqueFd agent(ends[1]);
  int chunks = 0;
  for (std::size_t at = 1; chunks < kMaxChunks && at < size; ++chunks) {
    const std::size_t length =
        std::min<std::size_t>(std::max<std::uint8_t>(data[at], 1), size - at - 1);
    if (length == 0 || ::send(agent.get(), data + at + 1, length, MSG_DONTWAIT) < 0) {
      break;
    }
    at += length + 1;
  }
  agent.reset();

  const auto kind = static_cast<ReplyKind>(data[0] % 3);
  SuccessCount successes;
  const ReplyHandling handling{kind, 0, "-", &successes};
  static_cast<void>(relayReply(connection, handling));
  // A chunk reports success at most once; only a text reply is looked at.
  if (successes.count > chunks || (kind != ReplyKind::kText && successes.count != 0)) {
    __builtin_trap();
  }
  return 0;
}
