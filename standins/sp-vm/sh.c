/* /bin/sh of the virtual SP. Debian has no shell for 32-bit big-endian
 * PowerPC, so this stands in for one, doing only what zarn's scripts line
 * needs: "sh -c LINE" splits LINE at ';', runs each piece, trimmed of blanks,
 * as a program with no arguments, and ends with the status of the last one
 * run, as a shell would for that line. */
#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

static char* trimmed(char* text) {
  while (isspace((unsigned char)*text)) text++;
  size_t length = strlen(text);
  while (length > 0 && isspace((unsigned char)text[length - 1])) text[--length] = '\0';
  return text;
}

static int run(char* program) {
  pid_t child = fork();
  if (child == 0) {
    execlp(program, program, (char*)NULL);
    _exit(127);
  }
  int status;
  if (child < 0 || waitpid(child, &status, 0) != child) return 127;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int main(int argc, char** argv) {
  if (argc != 3 || strcmp(argv[1], "-c") != 0) {
    fprintf(stderr, "sh: this stand-in runs only 'sh -c LINE'\n");
    return 2;
  }
  int status = 0;
  for (char* piece = strtok(argv[2], ";"); piece; piece = strtok(NULL, ";")) {
    char* program = trimmed(piece);
    if (*program) status = run(program);
  }
  return status;
}
