#pragma once

#include "base/unique_fd.h"

// What the agent answers a request with.
enum class ReplyKind {
  kNotRead,   // nothing is read: the request's arrival is the success
  kText,      // text up to an end-of-text byte, relayed to standard output
  kVpdBlock,  // a binary block, stored by VPD capture
};

// Offered each chunk of a text reply, read as text up to its first NUL,
// before it is shown.
struct ChunkListener {
  void (*onChunk)(const char* chunk, const void* context) = nullptr;
  const void* context = nullptr;
};

struct ReplyHandling {
  ReplyKind kind;
  int waitSeconds;          // a failed read is tried again only under the guard timer
  const char* vpdFilename;  // where a VPD block goes; "-..." is standard output
  ChunkListener listener;
};

// Relays the agent's reply on `connection` as `handling` says, until the
// reply's end or the connection's; returns the result code.
int relayReply(const UniqueFd& connection, const ReplyHandling& handling);
