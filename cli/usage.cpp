#include "cli/usage.h"

#include <unistd.h>

#include "base/output.h"

// The option that sets waitSeconds and the long-only options (configRuvo,
// version) are deliberately not listed: the text stays as callers know it.
const std::string_view kUsageText =
    "Usage: zarn -<command> -[parameters]\n"
    "  where command is:\n"
    "      -b    --reboot\n"
    "      -B    --forcedReboot\n"
    "      -c    --getCpuid\n"
    "      -C    --getTemp\n"
    "      -D    --setdns\n"
    "      -d    --getdns\n"
    "      -E    --setip\n"
    "      -e    --getip\n"
    "      -f    --forcedShutdown\n"
    "      -H    --getHost\n"
    "      -h    --hbpoll\n"
    "      -J    --setRuvo\n"
    "      -j    --getRuvo\n"
    "      -L    --getversion\n"
    "      -o    --setZarnPort\n"
    "      -O    --getZarnPort\n"
    "      -p    --mcpoll\n"
    "      -s    --shutdown\n"
    "      -T    --getTime\n"
    "      -v    --getfeatures\n"
    "      -?    --help\n"
    "  and parameters are:\n"
    "      -a    --addr\n"
    "      -n    --filename\n"
    "      -g    --gateway\n"
    "      -I    --hostIp\n"
    "      -m    --mask\n"
    "      -i    --interface\n"
    "      -l    --level\n"
    "      -t    --metric\n"
    "\n"
    "\n"
    "examples:\n"
    "  zarn_sp -b\n"
    "\tThis will cause the platform OS to reboot.\n"
    "\n"
    "  zarn_sp -SET_RUVO_IP -a 192.168.1.1 -g 192.168.1.254\n"
    "\tThis informs the platform side that the platform address should\n"
    "\tbe 192.168.1.1, and the SP side address is 192.168.1.254\n"
    "\n";

void printUsage() { writeAll(STDERR_FILENO, kUsageText); }
