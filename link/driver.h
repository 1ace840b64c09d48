#pragma once

#include <netinet/in.h>
#include <sys/ioctl.h>

#include <cstdint>
#include <optional>

// The ruvo link driver's node and its requests; each takes a 4-byte address
// in network byte order. On the 32-bit PowerPC SP they are 0x40044A1F,
// 0x40044A20 and 0x40044A29.
inline constexpr char kDriverPath[] = "/dev/ruvo/ruvo0";
inline constexpr unsigned long SET_PLAT_IP_IOCTL = _IOR('J', 31, std::uint32_t);
inline constexpr unsigned long GET_PLAT_IP_IOCTL = _IOR('J', 32, std::uint32_t);
inline constexpr unsigned long SET_SP_IP_IOCTL = _IOR('J', 41, std::uint32_t);

// Gives the driver the platform end's address. The request's result (any
// value of 0 or more is success), kResultFault for an invalid address text,
// kResultNoEntry when the node cannot be opened.
int setPlatformAddress(const char* addressText);

// Pushes the platform then the SP address of the settings file into the
// driver; a malformed file touches no driver.
int configRuvo();

// The platform end's address as the driver knows it. kResultNoEntry when the
// node cannot be opened; empty `address` when the driver does not answer.
int queryPlatformAddress(std::optional<in_addr>& address);
