#include "link/driver.h"

#include <fcntl.h>

#include "base/address.h"
#include "base/output.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "link/settings.h"

namespace {

UniqueFd openDriver() { return UniqueFd(::open(kDriverPath, O_RDWR | O_CLOEXEC)); }

int setAddress(const UniqueFd& driver, unsigned long request, const char* requestName,
               in_addr address) {
  const int result = ::ioctl(driver.get(), request, &address.s_addr);
  if (result < 0) {
    printErr("RUVO_CONFIG: ioctl %s failed %d\n", requestName, result);
  }
  return result;
}

}  // namespace

int setPlatformAddress(const char* addressText) {
  const auto address = parseAddress(addressText);
  if (!address) {
    writeOut("<error>Invalid host IP address</error>\n");
    return kResultFault;
  }
  const UniqueFd driver = openDriver();
  if (!driver.valid()) {
    printErr("RUVO_CONFIG: unable to open driver %s\n", kDriverPath);
    return kResultNoEntry;
  }
  return setAddress(driver, SET_PLAT_IP_IOCTL, "SET_PLAT_IP_IOCTL", *address);
}

int configRuvo() {
  LinkSettings settings{};
  if (const int result = readLinkSettings(settings); result != kResultOk) {
    return result;
  }
  const UniqueFd driver = openDriver();
  if (!driver.valid()) {
    printErr("RUVO_CONFIG: unable to open driver %s\n", kDriverPath);
    return kResultNoEntry;
  }
  const int platform = setAddress(driver, SET_PLAT_IP_IOCTL, "SET_PLAT_IP_IOCTL",
                                  addressFromNumber(settings.platformAddress));
  if (platform < 0) {
    return platform;
  }
  const int sp =
      setAddress(driver, SET_SP_IP_IOCTL, "SET_SP_IP_IOCTL", addressFromNumber(settings.spAddress));
  return sp < 0 ? sp : kResultOk;
}

int queryPlatformAddress(std::optional<in_addr>& address) {
  const UniqueFd driver = openDriver();
  if (!driver.valid()) {
    printErr("ZARN: failed top open the driver %s\n", kDriverPath);
    return kResultNoEntry;
  }
  in_addr answer{};
  address.reset();
  if (::ioctl(driver.get(), GET_PLAT_IP_IOCTL, &answer.s_addr) >= 0) {
    address = answer;
  }
  return kResultOk;
}
