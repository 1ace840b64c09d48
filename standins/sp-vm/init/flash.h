#pragma once

#include <stdbool.h>

#include "files.h"

/* The SP's flash: UBI on a RAM-backed MTD device (mtd0) with two UBIFS
 * volumes, "pstore" mounted at /pstore and "etc" at /etc. */

/* On the first boot: UBI formats the blank device as it attaches it, and
 * UBIFS each new volume as it mounts it. */
bool format_flash(void);

/* Where the hosts table stands, which decides how a save replaces it. */
enum table_place {
  kTableInEtc,       /* a file in /etc: renamed over */
  kTableBound,       /* bind-mounted over itself: a rename gives EBUSY */
  kTableOverReadOnly /* /etc read-only, /pstore/hosts bind-mounted over
                        /etc/hosts: no temporary can be made beside it (EROFS) */
};

bool mount_flash(enum table_place place);
bool unmount_flash(void);

/* The raw device, every byte as the chips would hold it; read while mounted
 * or not, written only while unmounted. */
struct content read_flash(void);
bool write_flash(struct content image);
