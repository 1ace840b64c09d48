#include "link/re_addressing.h"

#include "agent/exchange.h"
#include "agent/guard_timer.h"
#include "base/address.h"
#include "base/output.h"
#include "base/system_log.h"
#include "link/driver.h"
#include "link/save.h"

namespace {

void logReAddressing(const ReAddressing& move, const char* request) {
  logChange(LogLevel::kNotice, "re-addressing the link to platform %s, sp %s: %s %s port %d",
            canonicalAddressText(move.newPlatformAddress).data(),
            canonicalAddressText(move.spAddress).data(), request,
            canonicalAddressText(move.platform.host).data(), move.platform.port);
}

// The agent sends no reply to a re-addressing request, and a request that
// does not arrive is not reported: the SP end goes on regardless.
void tellPlatform(const ReAddressing& move) {
  const UniqueFd connection = connectAgent(move.platform);
  const bool sent = connection.valid() && sendRequest(connection, move.request);
  logReAddressing(move, sent ? "request sent to" : "request not sent, no connection to");
}

}  // namespace

// The whole move holds the save lock, so that two runs cannot leave the driver
// on one's addresses and the files on the other's. The guard timer is armed
// first, to bound the wait for the lock as well; the connection keeps it.
Result reAddressLink(const ReAddressing& move) {
  const bool timerArmed = armGuardTimer(move.platform.waitSeconds);
  const SaveLock lock = lockSaves();
  if (const Result result = setPlatformAddress(move.platform.host); failed(result)) {
    return result;
  }
  if (timerArmed) {
    tellPlatform(move);
  } else {
    logReAddressing(move, "request not sent, the guard timer could not be armed, for");
  }
  saveLinkSettings(lock, move.newPlatformAddress, move.spAddress, move.platform.port);
  // The save completed any interrupted one under this lock. What the driver
  // makes of the file changes nothing of the command's result: a failure is
  // on standard error and in the system log already.
  static_cast<void>(pushLinkSettings());
  writeOut("<returnVal>0</returnVal></zarn>\n");
  return Result::kOk;
}
