#include "system_log.h"

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int log_socket = -1;
static char* lines;
static size_t kept, room;

bool open_system_log(void) {
  struct sockaddr_un address = {.sun_family = AF_UNIX, .sun_path = "/dev/log"};
  log_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  return log_socket >= 0 && bind(log_socket, (struct sockaddr*)&address, sizeof address) == 0;
}

void drain_system_log(void) {
  char datagram[2048];
  ssize_t got;
  while (log_socket >= 0 && (got = recv(log_socket, datagram, sizeof datagram, 0)) >= 0) {
    if (kept + (size_t)got + 1 > room) {
      size_t bigger = 2 * (kept + (size_t)got + 1);
      char* grown = realloc(lines, bigger);
      if (!grown) continue;
      lines = grown;
      room = bigger;
    }
    memcpy(lines + kept, datagram, (size_t)got);
    kept += (size_t)got;
    lines[kept++] = '\n';
  }
}

char* take_system_log(size_t* length) {
  drain_system_log();
  char* taken = lines;
  *length = kept;
  lines = NULL;
  kept = room = 0;
  return taken;
}
