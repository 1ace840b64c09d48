#include "link/driver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "base/address.h"
#include "base/output.h"
#include "base/result.h"
#include "base/system_log.h"
#include "base/trace.h"
#include "base/unique_fd.h"
#include "link/save.h"
#include "link/settings_file.h"
#include "link/sp_paths.h"

namespace {

// Each request takes a 4-byte address in network byte order. On the 32-bit
// PowerPC SP they are 0x40044A1F, 0x40044A20 and 0x40044A29.
constexpr unsigned long SET_PLAT_IP_IOCTL = _IOR('J', 31, std::uint32_t);
constexpr unsigned long GET_PLAT_IP_IOCTL = _IOR('J', 32, std::uint32_t);
constexpr unsigned long SET_SP_IP_IOCTL = _IOR('J', 41, std::uint32_t);

constexpr char kCannotOpen[] = "RUVO_CONFIG: unable to open driver";
// Kept for callers: "top" where "to" was meant.
constexpr char kQueryCannotOpen[] = "ZARN: failed top open the driver";

// The node, or no descriptor with `complaint` and the node's path on
// standard error.
UniqueFd openDriver(const char* complaint) {
  UniqueFd driver(::open(kDriverPath, O_RDWR | O_CLOEXEC));
  if (!driver.valid()) {
    trace("driver %s: cannot open: %s", kDriverPath, std::strerror(errno));
    printErr("%s %s\n", complaint, kDriverPath);
  }
  return driver;
}

// Any value of 0 or more is the driver's success; a failure is shown as the
// request returned it.
Result setAddress(const UniqueFd& driver, unsigned long request, const char* requestName,
                  in_addr address) {
  const int result = ::ioctl(driver.get(), request, &address.s_addr);
  trace("driver %s %s: %d", requestName, inet_ntoa(address), result);
  if (result < 0) {
    printErr("RUVO_CONFIG: ioctl %s failed %d\n", requestName, result);
    return Result::kDriverRequestFailed;
  }
  return Result::kOk;
}

// The platform end first, then the SP end.
Result pushIntoDriver(const LinkSettings& settings) {
  const UniqueFd driver = openDriver(kCannotOpen);
  if (!driver.valid()) {
    return Result::kNoDriver;
  }
  const Result platform = setAddress(driver, SET_PLAT_IP_IOCTL, "SET_PLAT_IP_IOCTL",
                                     addressFromNumber(settings.platformAddress));
  if (failed(platform)) {
    return platform;
  }
  return setAddress(driver, SET_SP_IP_IOCTL, "SET_SP_IP_IOCTL",
                    addressFromNumber(settings.spAddress));
}

}  // namespace

Result setPlatformAddress(const char* addressText) {
  const auto address = parseAddress(addressText);
  if (!address) {
    writeOut("<error>Invalid host IP address</error>\n");
    return Result::kInvalidHostAddress;
  }
  const UniqueFd driver = openDriver(kCannotOpen);
  if (!driver.valid()) {
    return Result::kNoDriver;
  }
  return setAddress(driver, SET_PLAT_IP_IOCTL, "SET_PLAT_IP_IOCTL", *address);
}

Result pushLinkSettings() {
  const std::optional<LinkSettings> settings = readLinkSettings();
  if (!settings) {
    logChange(LogLevel::kError, "the driver was not given the link settings: %s is malformed",
              kSettingsPath);
    return Result::kSettingsMalformed;
  }
  const Result result = pushIntoDriver(*settings);
  const TextSlot platform = addressText(addressFromNumber(settings->platformAddress));
  const TextSlot sp = addressText(addressFromNumber(settings->spAddress));
  if (failed(result)) {
    logChange(LogLevel::kError, "the driver was not given platform %s, sp %s: %s %d",
              platform.data(), sp.data(),
              result == Result::kNoDriver ? "no node, result" : "a request failed with",
              exitValue(result));
  } else {
    logChange(LogLevel::kNotice, "gave the driver platform %s, sp %s", platform.data(), sp.data());
  }
  return result;
}

Result configRuvo() {
  const SaveLock lock = lockSaves();
  completeInterruptedSaves(lock);
  return pushLinkSettings();
}

PlatformQuery queryPlatformAddress() {
  const UniqueFd driver = openDriver(kQueryCannotOpen);
  if (!driver.valid()) {
    return {false, std::nullopt};
  }
  in_addr answer{};
  if (::ioctl(driver.get(), GET_PLAT_IP_IOCTL, &answer.s_addr) < 0) {
    trace("driver GET_PLAT_IP_IOCTL: failed, the settings file is read instead");
    return {true, std::nullopt};
  }
  trace("driver GET_PLAT_IP_IOCTL: %s", inet_ntoa(answer));
  return {true, answer};
}
