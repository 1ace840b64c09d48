/* Crash and failure injector: an LD_PRELOAD library that ends the process, as
 * a power loss or a kill would, just before its Nth counted call, makes calls
 * fail as a broken or full disk would, or makes them slow as worn flash does.
 * Counted calls: write, pwrite, fsync, ftruncate, fallocate, rename, close, socket,
 * flock. An fsync of a directory goes by the name fsync-directory, a write to a
 * socket by write-socket. sigaction, poll, getsockopt, posix_spawn and a read from
 * a socket (read-socket) are not counted: they fail or wait by name only. A poll named
 * poll-timeout returns at once as one whose wait ran out.
 *   ZARN_CRASH_AT=N   the call to stop at (unset: never); the exit status is 99
 *   ZARN_FAIL_AT=N    the Nth counted call fails
 *   ZARN_FAIL=NAME    every call of NAME fails
 *   ZARN_ERRNO=E      the error number of those failures (default EIO)
 *   ZARN_SLOW=NAME    every call of NAME first waits 1.5 seconds
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int named(const char* variable, const char* name) {
  const char* value = getenv(variable);
  return value && strcmp(value, name) == 0;
}

/* Whether this call of NAME fails (then errno is set); `failing` fails it whatever its name. */
static int fails_by_name(const char* name, int failing) {
  const char* error = getenv("ZARN_ERRNO");
  if (named("ZARN_SLOW", name)) nanosleep(&(struct timespec){1, 500000000}, NULL);
  if (!failing && !named("ZARN_FAIL", name)) return 0;
  errno = error ? atoi(error) : EIO;
  return 1;
}

static int fails(const char* name) {
  static long calls;
  const char* crash_at = getenv("ZARN_CRASH_AT");
  const char* fail_at = getenv("ZARN_FAIL_AT");
  ++calls;
  if (crash_at && calls == atol(crash_at)) _exit(99);
  return fails_by_name(name, fail_at && calls == atol(fail_at));
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static int is_socket(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode);
}

ssize_t write(int fd, const void* bytes, size_t count) {
  return fails(is_socket(fd) ? "write-socket" : "write") ? -1 : NEXT(write)(fd, bytes, count);
}

ssize_t read(int fd, void* bytes, size_t count) {
  return is_socket(fd) && fails_by_name("read-socket", 0) ? -1 : NEXT(read)(fd, bytes, count);
}

/* What a fortified build calls for read. */
ssize_t __read_chk(int fd, void* bytes, size_t count, size_t room);
ssize_t __read_chk(int fd, void* bytes, size_t count, size_t room) {
  return is_socket(fd) && fails_by_name("read-socket", 0)
             ? -1
             : NEXT(__read_chk)(fd, bytes, count, room);
}

ssize_t pwrite(int fd, const void* bytes, size_t count, off_t offset) {
  return fails("pwrite") ? -1 : NEXT(pwrite)(fd, bytes, count, offset);
}

static int is_directory(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
}

int fsync(int fd) {
  return fails(is_directory(fd) ? "fsync-directory" : "fsync") ? -1 : NEXT(fsync)(fd);
}

int ftruncate(int fd, off_t length) {
  return fails("ftruncate") ? -1 : NEXT(ftruncate)(fd, length);
}

int fallocate(int fd, int mode, off_t offset, off_t length) {
  return fails("fallocate") ? -1 : NEXT(fallocate)(fd, mode, offset, length);
}

int rename(const char* from, const char* to) {
  return fails("rename") ? -1 : NEXT(rename)(from, to);
}

int close(int fd) { return fails("close") ? -1 : NEXT(close)(fd); }

int socket(int domain, int type, int protocol) {
  return fails("socket") ? -1 : NEXT(socket)(domain, type, protocol);
}

int flock(int fd, int operation) { return fails("flock") ? -1 : NEXT(flock)(fd, operation); }

int sigaction(int signal, const struct sigaction* action, struct sigaction* old) {
  return fails_by_name("sigaction", 0) ? -1 : NEXT(sigaction)(signal, action, old);
}

/* What an injected poll returns: 0 for poll-timeout, -1 for poll, else kRealPoll. */
enum { kRealPoll = -2 };
static int injected_poll(void) {
  if (fails_by_name("poll-timeout", 0)) return 0;
  return fails_by_name("poll", 0) ? -1 : kRealPoll;
}

int poll(struct pollfd* watched, nfds_t count, int milliseconds) {
  const int injected = injected_poll();
  return injected != kRealPoll ? injected : NEXT(poll)(watched, count, milliseconds);
}

/* What a fortified build calls for poll. */
int __poll_chk(struct pollfd* watched, nfds_t count, int milliseconds, size_t room);
int __poll_chk(struct pollfd* watched, nfds_t count, int milliseconds, size_t room) {
  const int injected = injected_poll();
  return injected != kRealPoll ? injected : NEXT(__poll_chk)(watched, count, milliseconds, room);
}

int getsockopt(int fd, int level, int name, void* value, socklen_t* length) {
  return fails_by_name("getsockopt", 0) ? -1 : NEXT(getsockopt)(fd, level, name, value, length);
}

int posix_spawn(pid_t* child, const char* path, const posix_spawn_file_actions_t* actions,
                const posix_spawnattr_t* attributes, char* const arguments[],
                char* const environment[]) {
  return fails_by_name("posix_spawn", 0)
             ? errno
             : NEXT(posix_spawn)(child, path, actions, attributes, arguments, environment);
}
