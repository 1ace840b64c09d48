/* Crash injector: an LD_PRELOAD library that ends the process, as a power
 * loss or a kill would, just before its Nth write, fsync, rename or close.
 *   ZARN_CRASH_AT=N   the call to stop at (unset: never); the exit status is 99
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

static void crash_if_due(void) {
  static long calls;
  const char* at = getenv("ZARN_CRASH_AT");
  if (at && ++calls == atol(at)) _exit(99);
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* bytes, size_t count) {
  crash_if_due();
  return NEXT(write)(fd, bytes, count);
}

int fsync(int fd) {
  crash_if_due();
  return NEXT(fsync)(fd);
}

int rename(const char* from, const char* to) {
  crash_if_due();
  return NEXT(rename)(from, to);
}

int close(int fd) {
  crash_if_due();
  return NEXT(close)(fd);
}
