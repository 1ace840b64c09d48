#include "agent/relay.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <span>

#include "base/output.h"
#include "base/result.h"
#include "base/trace.h"

namespace {

constexpr char kEndOfText = '\x03';

// One byte more than a read asks for, so the chunk is always NUL-terminated.
using ReplyBuffer = std::array<char, 256>;
constexpr std::size_t kReadSize = sizeof(ReplyBuffer) - 1;

void traceRead(const ReplyBuffer& buffer, ssize_t n) {
  if (n > 0) {
    traceBytes("read", std::span(buffer.data(), static_cast<std::size_t>(n)));
  } else if (n == 0) {
    trace("read 0 bytes: the agent closed the connection");
  } else {
    trace("read failed: %s", std::strerror(errno));
  }
}

// Kept for callers: a "</zarn>" that closes no element.
void reportAbnormalClosure() { writeOut("<error>Abnormal socket closure</error></zarn>\n"); }

// A CPU's vital product data: an opaque block of exactly this size.
constexpr std::size_t kVpdBlockSize = 128;

// Stores `block` in the file `filename`, created or replaced, or writes it to
// standard output for a name that starts with '-'.
Result captureVpd(std::span<const char> block, const char* filename) {
  UniqueFd file;
  if (filename[0] != '-') {
    file = UniqueFd(::open(filename, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.valid()) {
      // Kept for callers: "</zarn>" on a line of its own.
      printOut("<error>Error opening file %s</error>\n</zarn>\n", filename);
      return Result::kVpdFileNotOpened;
    }
  }
  const int output = file.valid() ? file.get() : STDOUT_FILENO;
  if (::write(output, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
    writeOut("<error>Wrong # bytes written</error>\n");
    return Result::kVpdNotWritten;
  }
  return Result::kOk;
}

// The whole block must come in the first read.
Result relayVpdBlock(const UniqueFd& connection, const char* filename) {
  ReplyBuffer buffer{};
  const ssize_t n = ::read(connection.get(), buffer.data(), kReadSize);
  traceRead(buffer, n);
  if (n == 0) {
    reportAbnormalClosure();
    return Result::kOk;
  }
  if (n != kVpdBlockSize) {
    // Kept for callers: "</zarn>" on a line of its own.
    printOut("<error>Bytes read (%d) != vpd file size</error>\n</zarn>\n", static_cast<int>(n));
    return Result::kVpdBlockWrongSize;
  }
  return captureVpd(std::span<const char>(buffer).first(kVpdBlockSize), filename);
}

// A failed read is tried again while the guard timer bounds the retries;
// without the timer it ends the reply as a closed connection would.
ssize_t readChunk(const UniqueFd& connection, int waitSeconds, ReplyBuffer& buffer) {
  for (bool failedBefore = false;; failedBefore = true) {
    const ssize_t n = ::read(connection.get(), buffer.data(), kReadSize);
    if (n >= 0 || !failedBefore) {
      traceRead(buffer, n);
    }
    if (n >= 0 || waitSeconds <= 0) {
      return std::max<ssize_t>(n, 0);
    }
  }
}

// Shows one chunk of a text reply: NUL bytes as spaces, the first
// end-of-text byte as a newline. True when that completed the reply.
bool relayTextChunk(std::span<char> chunk) {
  std::replace(chunk.begin(), chunk.end(), '\0', ' ');
  const auto endOfText = std::find(chunk.begin(), chunk.end(), kEndOfText);
  const bool complete = endOfText != chunk.end();
  if (complete) {
    trace("end of text");
    *endOfText = '\n';
  }
  writeOut(std::string_view(chunk.data(), chunk.size()));
  return complete;
}

Result relayText(const UniqueFd& connection, const ReplyHandling& handling) {
  for (;;) {
    ReplyBuffer buffer{};
    const ssize_t n = readChunk(connection, handling.waitSeconds, buffer);
    if (handling.onSuccess != nullptr &&
        std::strstr(buffer.data(), "<cmdRetVal>0</cmdRetVal>") != nullptr) {
      handling.onSuccess->onSuccessReported();
    }
    if (n == 0) {
      reportAbnormalClosure();
      return Result::kOk;
    }
    const auto chunk = std::span<char>(buffer).first(static_cast<std::size_t>(n));
    if (relayTextChunk(chunk)) {
      return Result::kOk;
    }
  }
}

}  // namespace

Result relayReply(const UniqueFd& connection, const ReplyHandling& handling) {
  switch (handling.kind) {
    case ReplyKind::kNotRead: writeOut("<returnVal>0</returnVal></zarn>\n"); return Result::kOk;
    case ReplyKind::kVpdBlock: return relayVpdBlock(connection, handling.vpdFilename);
    case ReplyKind::kText: break;
  }
  return relayText(connection, handling);
}
