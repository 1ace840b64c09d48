#include "link/readdress.h"

#include "agent/exchange.h"
#include "base/output.h"
#include "base/result.h"
#include "link/driver.h"
#include "link/save.h"

namespace {

// The agent sends no reply to a re-addressing request, and a request that
// does not arrive is not reported: the SP end goes on regardless.
void tellPlatform(const ReAddressing& move) {
  UniqueFd connection;
  if (connectAgent(move.platform, connection) == kResultOk) {
    sendRequest(connection, move.request);
  }
}

}  // namespace

int reAddressLink(const ReAddressing& move) {
  if (const int result = setPlatformAddress(move.platform.host); result < 0) {
    return result;
  }
  tellPlatform(move);
  saveLinkSettings(move.newPlatformAddress, move.spAddress, move.platform.port);
  configRuvo();
  writeOut("<returnVal>0</returnVal></zarn>\n");
  return kResultOk;
}
