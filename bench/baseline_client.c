/* The least a client can do for `zarn -I HOST -T`, as a yardstick:
 * connect, write one request letter, copy the reply to standard output up to
 * the read that brings the end-of-text byte (shown as a newline), close.
 *   baseline_client HOST PORT LETTER
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 4) {
    return 2;
  }
  struct sockaddr_in agent = {.sin_family = AF_INET,
                              .sin_port = htons((unsigned short)atoi(argv[2]))};
  if (inet_aton(argv[1], &agent.sin_addr) == 0) {
    return 2;
  }
  int connection = socket(AF_INET, SOCK_STREAM, 0);
  if (connection < 0 || connect(connection, (struct sockaddr*)&agent, sizeof agent) != 0 ||
      write(connection, argv[3], 1) != 1) {
    return 1;
  }
  char chunk[255];
  for (;;) {
    ssize_t n = read(connection, chunk, sizeof chunk);
    if (n <= 0) {
      return 1;
    }
    char* end = memchr(chunk, '\x03', (size_t)n);
    if (end != NULL) {
      *end = '\n';
    }
    if (write(STDOUT_FILENO, chunk, (size_t)n) != n) {
      return 1;
    }
    if (end != NULL) {
      close(connection);
      return 0;
    }
  }
}
