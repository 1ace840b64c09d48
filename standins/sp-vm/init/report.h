#pragma once

#include <stddef.h>

/* What the host reads from the console: one line per fact, "@sp-vm STEP KEY
 * VALUE", so that the kernel's own lines can be told apart. */

/* VALUE is the bytes in hex, which every byte survives on a terminal. */
void report_bytes(int step, const char* key, const char* bytes, size_t length);

void report(int step, const char* key, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
