#include "link/interfaces.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture_output.h"

namespace {

ifreq record(const char* name, sa_family_t family, const char* address) {
  ifreq request{};
  std::memcpy(request.ifr_name, name, strnlen(name, sizeof request.ifr_name));
  sockaddr_in inet{};
  inet.sin_family = family;
  inet_aton(address, &inet.sin_addr);
  std::memcpy(&request.ifr_addr, &inet, sizeof inet);
  return request;
}

TEST(Interfaces, OnlyIpv4AddressesOfTheExactLinkName) {
  const std::vector<ifreq> records{
      record("lo", AF_INET, "127.0.0.1"),
      record("ruvo0", AF_INET, "169.254.101.2"),
      record("ruvo0:1", AF_INET, "10.0.0.1"),
      record("ruvo01", AF_INET, "10.0.0.2"),
      record("ruvo", AF_INET, "10.0.0.3"),
      record("ruvo0", AF_INET6, "10.0.0.4"),
      record("ruvo0", AF_PACKET, "10.0.0.5"),
      record("ruvo0", AF_INET, "192.168.7.9"),
      record("ruvo0xxxxxxxxxxx", AF_INET, "10.0.0.6"),
  };
  EXPECT_EQ(captureOutput(STDOUT_FILENO, [&] { printLinkAddresses(records); }),
            "169.254.101.2\n192.168.7.9\n");
  EXPECT_EQ(captureOutput(STDOUT_FILENO, [] { printLinkAddresses({}); }), "");
}

}  // namespace
