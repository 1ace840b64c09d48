/* Crash and failure injector: an LD_PRELOAD library that ends the process, as
 * a power loss or a kill would, just before its Nth write, fsync, rename,
 * close or socket call, or makes every call of one of them fail as a broken
 * disk or an exhausted system would.
 *   ZARN_CRASH_AT=N   the call to stop at (unset: never); the exit status is 99
 *   ZARN_FAIL=NAME    every call of NAME (fsync, rename, close or socket) fails
 *                     with EIO
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int fails(const char* name) {
  static long calls;
  const char* at = getenv("ZARN_CRASH_AT");
  const char* failing = getenv("ZARN_FAIL");
  if (at && ++calls == atol(at)) _exit(99);
  if (failing && strcmp(failing, name) == 0) {
    errno = EIO;
    return 1;
  }
  return 0;
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* bytes, size_t count) {
  return fails("write") ? -1 : NEXT(write)(fd, bytes, count);
}

int fsync(int fd) { return fails("fsync") ? -1 : NEXT(fsync)(fd); }

int rename(const char* from, const char* to) {
  return fails("rename") ? -1 : NEXT(rename)(from, to);
}

int close(int fd) { return fails("close") ? -1 : NEXT(close)(fd); }

int socket(int domain, int type, int protocol) {
  return fails("socket") ? -1 : NEXT(socket)(domain, type, protocol);
}
