#include "link/readdress.h"

#include <unistd.h>

#include "agent/connection.h"
#include "agent/request.h"
#include "base/output.h"
#include "base/result.h"
#include "link/driver.h"
#include "link/save.h"

namespace {

// The agent sends no reply to a re-addressing request, and a request that
// does not arrive is not reported: the SP end goes on regardless.
void tellPlatform(const InvocationState& state) {
  UniqueFd connection;
  if (connectAgent(state.hostIp.data(), state.portText.data(), state.waitSeconds, connection) !=
      kResultOk) {
    return;
  }
  RequestBuffer buffer{};
  if (const auto request = formatRequest(state, buffer)) {
    [[maybe_unused]] const ssize_t written =
        ::write(connection.get(), request->data(), request->size());
  }
}

}  // namespace

int reAddressLink(const InvocationState& state) {
  if (const int result = setPlatformAddress(state.hostIp.data()); result < 0) {
    return result;
  }
  tellPlatform(state);
  saveLinkSettings(state.addr.data(), state.gateway.data(), state.portText.data());
  configRuvo();
  writeOut("<returnVal>0</returnVal></zarn>\n");
  return kResultOk;
}
