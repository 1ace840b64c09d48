#include "link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

static int platform_side = -1;

static bool ask_interface(const char* name, unsigned long request, struct ifreq* ifr) {
  int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  snprintf(ifr->ifr_name, sizeof ifr->ifr_name, "%s", name);
  bool done = sock >= 0 && ioctl(sock, request, ifr) == 0;
  if (sock >= 0) close(sock);
  return done;
}

static bool rename_interface(const char* from, const char* to) {
  struct ifreq ifr = {0};
  snprintf(ifr.ifr_newname, sizeof ifr.ifr_newname, "%s", to);
  return ask_interface(from, SIOCSIFNAME, &ifr);
}

/* `name` may be a label such as "plat0:1", which adds a second address. */
static bool set_address(const char* name, const char* address) {
  struct ifreq ifr = {0};
  struct sockaddr_in* in = (struct sockaddr_in*)&ifr.ifr_addr;
  in->sin_family = AF_INET;
  inet_pton(AF_INET, address, &in->sin_addr);
  if (!ask_interface(name, SIOCSIFADDR, &ifr)) return false;
  inet_pton(AF_INET, "255.255.255.0", &in->sin_addr);
  return ask_interface(name, SIOCSIFNETMASK, &ifr);
}

static bool bring_up(const char* name) {
  struct ifreq ifr = {0};
  if (!ask_interface(name, SIOCGIFFLAGS, &ifr)) return false;
  ifr.ifr_flags |= IFF_UP;
  return ask_interface(name, SIOCSIFFLAGS, &ifr);
}

/* The NIC's PHY takes a moment to report the link after it is brought up;
 * a connection tried before then waits for its retransmission. */
static bool wait_for_carrier(const char* name) {
  struct ifreq ifr = {0};
  for (int tries = 0; tries < 1000; tries++) {
    if (ask_interface(name, SIOCGIFFLAGS, &ifr) && (ifr.ifr_flags & IFF_RUNNING)) return true;
    usleep(10000);
  }
  return false;
}

/* Only netlink moves an interface between namespaces. */
static bool move_to_namespace(const char* name, int namespace_fd) {
  struct {
    struct nlmsghdr header;
    struct ifinfomsg link;
    struct rtattr attribute;
    int namespace_fd;
  } request = {
      .header = {.nlmsg_len = sizeof request,
                 .nlmsg_type = RTM_NEWLINK,
                 .nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK},
      .link = {.ifi_family = AF_UNSPEC, .ifi_index = (int)if_nametoindex(name)},
      .attribute = {.rta_len = RTA_LENGTH(sizeof(int)), .rta_type = IFLA_NET_NS_FD},
      .namespace_fd = namespace_fd,
  };
  struct {
    struct nlmsghdr header;
    struct nlmsgerr error;
  } answer = {0};
  int sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  bool moved = sock >= 0 && send(sock, &request, sizeof request, 0) == sizeof request &&
               recv(sock, &answer, sizeof answer, 0) > 0 &&
               answer.header.nlmsg_type == NLMSG_ERROR && answer.error.error == 0;
  if (sock >= 0) close(sock);
  return moved;
}

bool start_link(void) {
  int sp_side = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  if (sp_side < 0 || unshare(CLONE_NEWNET) != 0) return false;
  platform_side = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  bool platform_ready = bring_up("lo");
  if (setns(sp_side, CLONE_NEWNET) != 0 || !platform_ready || !bring_up("lo") ||
      !rename_interface("eth0", "ruvo0") || !set_address("ruvo0", "169.254.101.2") ||
      !bring_up("ruvo0") || !rename_interface("eth1", "plat0") ||
      !move_to_namespace("plat0", platform_side) || !enter_platform_side()) {
    return false;
  }
  platform_ready = set_address("plat0", "169.254.101.3") &&
                   set_address("plat0:1", "169.254.101.4") && bring_up("plat0") &&
                   wait_for_carrier("plat0");
  return setns(sp_side, CLONE_NEWNET) == 0 && close(sp_side) == 0 && platform_ready &&
         wait_for_carrier("ruvo0");
}

bool enter_platform_side(void) { return setns(platform_side, CLONE_NEWNET) == 0; }
