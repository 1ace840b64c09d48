#pragma once

/* The plan: what the host asks of the virtual SP, one step a line, fields
 * split by tabs. Each step's results are reported under its line number.
 *   run CMD ARG...             out, err (hex) and status
 *   agent ARG...               start the agent simulator on the platform's
 *                              side with these options, once it listens
 *   stop-agents
 *   write PATH HEX             replace the file with these bytes
 *   remove PATH
 *   show PATH                  file (hex), or absent
 *   list DIR                   the names in it, one a line (hex)
 *   driver-log                 the driver's lines since the last (hex)
 *   system-log                 the lines /dev/log received since the last (hex)
 *   cut PLACE CMD ARG...       power cuts during a save (power_cut.h), the
 *                              hosts table in /etc (rename), bound over itself
 *                              (in-place) or over a read-only /etc (read-only)
 *   cut-journal PLACE JOURNAL HEX CMD ARG...
 *                              power cuts while the save writes JOURNAL, the
 *                              table edited (HEX appended) after each
 */
void run_plan(const char* path);
