#pragma once

#include <stdbool.h>

#include "files.h"

/* The SP's flash: UBI on a RAM-backed MTD device (mtd0) with two UBIFS
 * volumes, "pstore" mounted at /pstore and "etc" at /etc. */

/* On the first boot: UBI formats the blank device as it attaches it, and
 * UBIFS each new volume as it mounts it. */
bool format_flash(void);

/* `table_bound`: /etc/hosts is bind-mounted over itself, so that it cannot
 * be renamed over (EBUSY) and a save must rewrite it in place. */
bool mount_flash(bool table_bound);
bool unmount_flash(void);

/* The raw device, every byte as the chips would hold it; read while mounted
 * or not, written only while unmounted. */
struct content read_flash(void);
bool write_flash(struct content image);
