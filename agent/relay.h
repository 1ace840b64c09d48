#pragma once

#include "base/result.h"
#include "base/unique_fd.h"

// What the agent answers a request with.
enum class ReplyKind {
  kNotRead,   // nothing is read: the request's arrival is the success
  kText,      // text up to an end-of-text byte, relayed to standard output
  kVpdBlock,  // a CPU's 128-byte VPD block, stored in a file or shown
};

// Told when a text reply reports the command's success.
class SuccessListener {
 public:
  // Called for each chunk that holds "<cmdRetVal>0</cmdRetVal>" before any
  // NUL byte, before the chunk is shown.
  virtual void onSuccessReported() = 0;

 protected:
  SuccessListener() = default;
  SuccessListener(const SuccessListener&) = default;
  SuccessListener& operator=(const SuccessListener&) = default;
  ~SuccessListener() = default;
};

struct ReplyHandling {
  ReplyKind kind;
  int waitSeconds;                       // a failed read is tried again only under the guard timer
  const char* vpdFilename;               // where a VPD block goes; "-..." is standard output
  SuccessListener* onSuccess = nullptr;  // for a text reply
};

// Relays the agent's reply on `connection` as `handling` says, until the
// reply's end or the connection's; returns the result.
Result relayReply(const UniqueFd& connection, const ReplyHandling& handling);
