#pragma once

#include "files.h"
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

/* The same, but only at the calls that write and commit the journal of the
 * hosts table's in-place rewrite, `journal`: from the one that creates its
 * temporary ("JOURNAL.zarn-new") to the first fsync after the rename, the
 * sync of its directory. Each run finds them anew, since the calls before
 * them vary with the exchange with the agent. After each cut an
 * administrator edits the table, appending `edit` to it, before the save
 * runs again, and then once more. Besides the versions of each file, the
 * save learns them with the edit made first (reported as edited-status,
 * edited-old, edited-new...), and each cut reports whether the journal stood
 * under its name, how each of the two saves ended (status, standard output
 * and error) and left the files, measured against the edited versions, and
 * the names then in /pstore and /etc. */
void cut_power_in_journal(int step, enum table_place place, const char* journal,
                          struct content edit, char* const argv[]);
