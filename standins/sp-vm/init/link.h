#pragma once

#include <stdbool.h>

/* The ruvo link of the virtual SP. The machine's two sungem NICs sit on one
 * qemu hub with nothing else on it. The first becomes the SP's ruvo0,
 * 169.254.101.2/24; the second, plat0, moves to a network namespace of its
 * own that stands for the platform, holding 169.254.101.3/24 and a spare
 * platform address, 169.254.101.4/24, to re-address the link to. Traffic
 * between them crosses both NICs and the hub, never loopback. */
bool start_link(void);

/* Moves the calling process to the platform's side of the link. */
bool enter_platform_side(void);
