#include "link/readdress.h"

#include "agent/exchange.h"
#include "agent/guard_timer.h"
#include "base/output.h"
#include "base/result.h"
#include "link/driver.h"
#include "link/save.h"

namespace {

// The agent sends no reply to a re-addressing request, and a request that
// does not arrive is not reported: the SP end goes on regardless.
void tellPlatform(const ReAddressing& move) {
  const UniqueFd connection = connectAgent(move.platform);
  if (connection.valid()) {
    sendRequest(connection, move.request);
  }
}

}  // namespace

// The whole move holds the save lock, so that two runs cannot leave the driver
// on one's addresses and the files on the other's. The guard timer is armed
// first, to bound the wait for the lock as well; the connection keeps it.
int reAddressLink(const ReAddressing& move) {
  const bool timerArmed = armGuardTimer(move.platform.waitSeconds);
  const SaveLock lock = lockSaves();
  if (const int result = setPlatformAddress(move.platform.host); result < 0) {
    return result;
  }
  if (timerArmed) {
    tellPlatform(move);
  }
  saveLinkSettings(lock, move.newPlatformAddress, move.spAddress, move.platform.port);
  // The save completed any interrupted one under this lock; what the driver
  // makes of the file changes nothing of the command's result.
  pushLinkSettings();
  writeOut("<returnVal>0</returnVal></zarn>\n");
  return kResultOk;
}
