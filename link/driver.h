#pragma once

#include <netinet/in.h>

#include <optional>

// The ruvo link driver, reached through its node "/dev/ruvo/ruvo0".

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
