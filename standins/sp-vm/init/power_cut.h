#pragma once

#include "flash.h"

/* Power cuts during a save, on real flash. From the files as they stand,
 * the save `argv` runs once to learn the new versions; then, for each N from
 * 1 until the save ends by itself, it runs traced from the same flash image
 * and, once its Nth system call has returned, the raw flash is copied as it
 * stands, zarn and whatever it started are killed, the copy is put back and
 * the volumes mounted again, so that UBIFS recovers as after a power loss.
 * Each cut reports whether the volumes mounted, what each file was (old,
 * new, missing or other), and how the same save, run again, ended and left
 * them. `place`: where the hosts table stands. */
void cut_power_during(int step, enum table_place place, char* const argv[]);
