#include "link/interfaces.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <array>
#include <cstring>
#include <span>
#include <string_view>

#include "base/address.h"
#include "base/output.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "link/driver.h"
#include "link/settings_file.h"

namespace {

constexpr std::string_view kLinkInterface = "ruvo0";
constexpr std::size_t kInterfaceListBytes = 4096;

bool isLinkInterface(const ifreq& record) {
  const std::string_view name(record.ifr_name, strnlen(record.ifr_name, sizeof record.ifr_name));
  return name == kLinkInterface;
}

void printLinkAddresses(std::span<const ifreq> records) {
  for (const ifreq& record : records) {
    if (record.ifr_addr.sa_family != AF_INET || !isLinkInterface(record)) {
      continue;
    }
    sockaddr_in address{};
    std::memcpy(&address, &record.ifr_addr, sizeof address);
    printOut("%s\n", inet_ntoa(address.sin_addr));
  }
}

Result listLinkInterfaceAddresses() {
  const UniqueFd query(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  std::array<ifreq, kInterfaceListBytes / sizeof(ifreq)> records{};
  ifconf list{};
  list.ifc_len = static_cast<int>(sizeof records);
  list.ifc_req = records.data();
  if (!query.valid() || ::ioctl(query.get(), SIOCGIFCONF, &list) < 0) {
    // Kept for callers: no newline.
    writeOut("<error>Unable to get ip addresses</error>");
    return Result::kNoInterfaceList;
  }
  const auto count = static_cast<std::size_t>(list.ifc_len) / sizeof(ifreq);
  printLinkAddresses(std::span<const ifreq>(records).first(count));
  return Result::kOk;
}

}  // namespace

Result showRuvoAddresses() {
  const PlatformQuery query = queryPlatformAddress();
  if (!query.reached) {
    return Result::kNoDriver;
  }
  std::optional<in_addr> platform = query.address;
  if (!platform) {
    const std::optional<LinkSettings> settings = readLinkSettings();
    if (!settings) {
      return Result::kSettingsMalformed;
    }
    platform = addressFromNumber(settings->platformAddress);
  }
  // Kept for callers: padding, no newline, before the first interface address.
  printOut("%-25s", inet_ntoa(*platform));
  return listLinkInterfaceAddresses();
}
