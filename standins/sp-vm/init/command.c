#include "command.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

void become_command(int out, int err) {
  int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
  dup2(nothing, STDIN_FILENO);
  dup2(out < 0 ? nothing : out, STDOUT_FILENO);
  dup2(err < 0 ? nothing : err, STDERR_FILENO);
  if (chdir("/tmp") != 0) _exit(126);
}

int status_of(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -WTERMSIG(wait_status);
}

static void append(struct content* content, const char* bytes, size_t length) {
  content->bytes = realloc(content->bytes, content->length + length + 1);
  for (size_t i = 0; content->bytes && i < length; i++)
    content->bytes[content->length++] = bytes[i];
}

/* Reads both pipes until each is closed. */
static void collect(int out, int err, struct run* run) {
  struct pollfd pipes[] = {{.fd = out, .events = POLLIN}, {.fd = err, .events = POLLIN}};
  struct content* into[] = {&run->out, &run->err};
  append(&run->out, "", 0);
  append(&run->err, "", 0);
  for (int open_pipes = 2; open_pipes > 0;) {
    if (poll(pipes, 2, -1) < 0) return;
    for (int i = 0; i < 2; i++) {
      if (!pipes[i].revents) continue;
      char buffer[4096];
      ssize_t got = read(pipes[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        append(into[i], buffer, (size_t)got);
      } else {
        pipes[i].fd = -1;
        open_pipes--;
      }
    }
  }
}

bool run_command(char* const argv[], struct run* run) {
  int out[2], err[2];
  *run = (struct run){0};
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child == 0) {
    become_command(out[1], err[1]);
    execvp(argv[0], argv);
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (child > 0) collect(out[0], err[0], run);
  close(out[0]);
  close(err[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return false;
  run->status = status_of(status);
  return true;
}

void free_run(struct run* run) {
  free_content(&run->out);
  free_content(&run->err);
}
