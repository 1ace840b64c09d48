#pragma once

#include <net/if.h>

#include <span>

// Every IPv4 address of the link interface, one per line. kResultFault, with
// a message, when the interface list is unavailable.
int listLinkInterfaceAddresses();

// Prints the addresses held by the records named exactly "ruvo0" among
// `records`, an interface list as the kernel returns it.
void printLinkAddresses(std::span<const ifreq> records);

// The `getRuvo` command: the platform end's address padded to 25 columns,
// then the link interface's addresses.
int showRuvoAddresses();
