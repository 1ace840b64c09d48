#pragma once

#include <stdbool.h>
#include <stddef.h>

/* The SP's system log: a datagram socket at /dev/log, one line a datagram,
 * kept by init until the plan asks for them. Nothing waits on it, so a sender
 * that finds its queue full loses the line, as on the SP. */
bool open_system_log(void);

/* Takes in what has come since the last call, without waiting. */
void drain_system_log(void);

/* The lines kept since the last take, each ended by a newline; the caller
 * frees them. */
char* take_system_log(size_t* length);
