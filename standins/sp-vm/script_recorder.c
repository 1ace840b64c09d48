/* Stands in for the SP's /usr/local/bin/spIpConfig.sh and addHosts.sh on
 * the virtual SP: appends a line to /tmp/scripts.log with the name it was run
 * as, its argument count, the settings file's line count, the hosts table's
 * lines that name the platform, and its PATH, so a test sees the order of
 * things and what the save had written by then. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int count_lines(const char* path, const char* holding) {
  FILE* file = fopen(path, "r");
  char line[512];
  int count = 0;
  while (file && fgets(line, sizeof line, file))
    if (strstr(line, holding)) count++;
  if (file) fclose(file);
  return count;
}

int main(int argc, char** argv) {
  const char* name = strrchr(argv[0], '/') ? strrchr(argv[0], '/') + 1 : argv[0];
  const char* path = getenv("PATH");
  FILE* log = fopen("/tmp/scripts.log", "a");
  if (!log) return 1;
  fprintf(log, "%s %d %d %d %s\n", name, argc - 1, count_lines("/pstore/ruvo_config", "\n"),
          count_lines("/etc/hosts", "platform.ruvo.local"), path ? path : "-");
  return fclose(log) == 0 ? 0 : 1;
}
