#pragma once

#include "base/unique_fd.h"

// What the agent answers a request with.
enum class ReplyKind {
  kNotRead,   // nothing is read: the request's arrival is the success
  kText,      // text up to an end-of-text byte, relayed to standard output
  kVpdBlock,  // a binary block, stored by VPD capture
};

// A move of the agent to a new port, which the agent confirms in its reply.
struct PortChange {
  const char* platform;  // the address the agent was reached at
  const char* sp;        // the SP's address on the link
  int port;              // the agent's new port
};

struct ReplyHandling {
  ReplyKind kind;
  int waitSeconds;          // a failed read is tried again only under the guard timer
  const char* vpdFilename;  // where a VPD block goes; "-..." is standard output
  // For a text reply that may confirm `portChange`: called for each chunk
  // that holds "<cmdRetVal>0</cmdRetVal>" before any NUL byte, before the
  // chunk is shown.
  void (*onPortConfirmed)(const PortChange& change) = nullptr;
  PortChange portChange{};
};

// Relays the agent's reply on `connection` as `handling` says, until the
// reply's end or the connection's; returns the result code.
int relayReply(const UniqueFd& connection, const ReplyHandling& handling);
