#pragma once

#include <stdbool.h>
#include <sys/types.h>

#include "files.h"

/* Commands run in /tmp with standard input on /dev/null, as the host's tests
 * run zarn. */
struct run {
  struct content out;
  struct content err;
  int status; /* exit status; negative: ended by that signal */
};

/* Runs `argv` to its end, collecting its standard output and error. */
bool run_command(char* const argv[], struct run* run);

/* In a child about to exec: the working directory and standard streams the
 * plan's commands get, with standard output and error going to `out`. */
void become_command(int out, int err);

int status_of(int wait_status);
void free_run(struct run* run);
