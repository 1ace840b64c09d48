#include "plan.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/klog.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "command.h"
#include "files.h"
#include "link.h"
#include "power_cut.h"
#include "report.h"
#include "system_log.h"

enum { kMostFields = 64, kMostAgents = 8 };

static pid_t agents[kMostAgents];
static int agent_count;

static void run(int step, char* const argv[]) {
  struct run run;
  if (!run_command(argv, &run)) {
    report(step, "error", "%s did not run", argv[0]);
    return;
  }
  report_bytes(step, "out", run.out.bytes, run.out.length);
  report_bytes(step, "err", run.err.bytes, run.err.length);
  report(step, "status", "%d", run.status);
  free_run(&run);
}

/* The simulator is told where to say it listens, and waited for. */
static void start_agent(int step, char** argv) {
  char ready[32];
  snprintf(ready, sizeof ready, "/tmp/agent%d.ready", step);
  int count = 0;
  while (argv[count]) count++;
  char* command[kMostFields + 4] = {"zarn-agent-sim", "--ready", ready};
  memcpy(command + 3, argv, (size_t)(count + 1) * sizeof *argv);
  pid_t pid = fork();
  if (pid == 0) {
    become_command(-1, -1);
    if (enter_platform_side()) execvp(command[0], command);
    _exit(127);
  }
  if (agent_count < kMostAgents) agents[agent_count++] = pid;
  for (int tries = 0; tries < 500 && access(ready, F_OK) != 0; tries++) usleep(20000);
  if (access(ready, F_OK) != 0) report(step, "error", "the agent simulator did not start");
}

static void stop_agents(void) {
  for (int i = 0; i < agent_count; i++) {
    kill(agents[i], SIGTERM);
    waitpid(agents[i], NULL, 0);
  }
  agent_count = 0;
}

static void write_hex(int step, const char* path, const char* hex) {
  struct content content = from_hex(hex);
  if (!content.bytes || !write_file(path, content.bytes, content.length))
    report(step, "error", "%s not written", path);
  free_content(&content);
}

static void show(int step, const char* path) {
  struct content content = read_file(path);
  if (content.bytes)
    report_bytes(step, "file", content.bytes, content.length);
  else
    report(step, "absent", "%s", path);
  free_content(&content);
}

static void list(int step, const char* path) {
  struct content names = names_in(path);
  report_bytes(step, "names", names.bytes, names.length);
  free_content(&names);
}

/* The ring buffer is emptied each time, so each step sees only its own lines. */
static void driver_log(int step) {
  static char log[1 << 16];
  char lines[sizeof log];
  int length = klogctl(4 /* SYSLOG_ACTION_READ_CLEAR */, log, sizeof log - 1);
  size_t at = 0;
  log[length > 0 ? length : 0] = '\0';
  for (char* line = strtok(log, "\n"); line; line = strtok(NULL, "\n")) {
    const char* text = strstr(line, "ruvo: ");
    if (text) at += (size_t)sprintf(lines + at, "%s\n", text + strlen("ruvo: "));
  }
  report_bytes(step, "lines", lines, at);
}

static void system_log(int step) {
  size_t length;
  char* lines = take_system_log(&length);
  report_bytes(step, "lines", lines ? lines : "", length);
  free(lines);
}

static enum table_place table_place(const char* name) {
  return strcmp(name, "in-place") == 0    ? kTableBound
         : strcmp(name, "read-only") == 0 ? kTableOverReadOnly
                                          : kTableInEtc;
}

static void run_step(int step, char** field) {
  const char* verb = field[0];
  if (!verb) return;
  if (strcmp(verb, "run") == 0 && field[1]) {
    run(step, field + 1);
  } else if (strcmp(verb, "agent") == 0) {
    start_agent(step, field + 1);
  } else if (strcmp(verb, "stop-agents") == 0) {
    stop_agents();
  } else if (strcmp(verb, "write") == 0 && field[1] && field[2]) {
    write_hex(step, field[1], field[2]);
  } else if (strcmp(verb, "remove") == 0 && field[1]) {
    unlink(field[1]);
  } else if (strcmp(verb, "show") == 0 && field[1]) {
    show(step, field[1]);
  } else if (strcmp(verb, "list") == 0 && field[1]) {
    list(step, field[1]);
  } else if (strcmp(verb, "driver-log") == 0) {
    driver_log(step);
  } else if (strcmp(verb, "system-log") == 0) {
    system_log(step);
  } else if (strcmp(verb, "cut") == 0 && field[1] && field[2]) {
    cut_power_during(step, table_place(field[1]), field + 2);
  } else if (strcmp(verb, "cut-journal") == 0 && field[1] && field[2] && field[3] && field[4]) {
    struct content edit = from_hex(field[3]);
    cut_power_in_journal(step, table_place(field[1]), field[2], edit, field + 4);
    free_content(&edit);
  } else {
    report(step, "error", "no such step: %s", verb);
  }
}

void run_plan(const char* path) {
  struct content plan = read_file(path);
  char* rest = plan.bytes ? realloc(plan.bytes, plan.length + 1) : NULL;
  if (rest) rest[plan.length] = '\0';
  char* text = rest;
  for (int step = 1; rest; step++) {
    char* line = strsep(&rest, "\n");
    char* field[kMostFields + 1] = {0};
    for (int i = 0; i < kMostFields && line;) {
      char* word = strsep(&line, "\t");
      if (*word) field[i++] = word;
    }
    run_step(step, field);
    drain_system_log();
  }
  stop_agents();
  free(text);
}
