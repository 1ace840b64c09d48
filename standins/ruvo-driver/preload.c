/* Stand-in for the ruvo link driver: an LD_PRELOAD library that answers the
 * driver's three requests on "/dev/ruvo/ruvo0" (a plain file in the sandbox)
 * and passes every other ioctl on to the C library.
 *   RUVO_STANDIN_LOG=FILE   append "NAME 0xNUMBER DOTTED" per request
 *   RUVO_STANDIN_GET=DOTTED address GET answers (unset: the one remembered,
 *                           else 169.254.101.3; "fail": -1 with EIO)
 *   RUVO_STANDIN_FAIL=A,B   names of requests that fail with -1/EIO
 *   RUVO_STANDIN_STATE=FILE remember the addresses SET_PLAT and SET_SP set,
 *                           as a driver does, across the processes that
 *                           share FILE ("plat DOTTED\nsp DOTTED\n")
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define SET_PLAT_IP_IOCTL _IOR('J', 31, uint32_t)
#define GET_PLAT_IP_IOCTL _IOR('J', 32, uint32_t)
#define SET_SP_IP_IOCTL _IOR('J', 41, uint32_t)

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* The stand-in answers for the program alone. The scripts the program runs
 * must not load it: under an emulator they are host programs, which cannot. */
__attribute__((constructor)) static void keep_to_this_process(void) { unsetenv("LD_PRELOAD"); }

static int is_driver_node(int fd) {
  char link[64], path[256];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n < 0) return 0;
  path[n] = '\0';
  return strcmp(path, "/dev/ruvo/ruvo0") == 0;
}

static int listed(const char* list, const char* name) {
  size_t len = strlen(name);
  for (const char* p = list; p && *p; p += strcspn(p, ",")) {
    p += strspn(p, ",");
    if (strncmp(p, name, len) == 0 && (p[len] == ',' || p[len] == '\0')) return 1;
  }
  return 0;
}

static void log_line(const char* name, unsigned long request, const char* detail) {
  const char* file = getenv("RUVO_STANDIN_LOG");
  if (!file) return;
  char line[128];
  int n = snprintf(line, sizeof line, "%s 0x%lx%s%s\n", name, request, detail ? " " : "",
                   detail ? detail : "");
  int fd = open(file, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  if (write(fd, line, (size_t)n) != n) { /* nothing more to do in a stand-in */
  }
  close(fd);
}

/* The addresses the driver holds: those remembered in `file`, else the link's
 * defaults. */
struct held_addresses {
  char plat[INET_ADDRSTRLEN];
  char sp[INET_ADDRSTRLEN];
};

static struct held_addresses load_held(const char* file) {
  const struct held_addresses defaults = {"169.254.101.3", "169.254.101.2"};
  FILE* f = file ? fopen(file, "r") : NULL;
  if (!f) return defaults;
  struct held_addresses held;
  const int fields = fscanf(f, "plat %15s sp %15s", held.plat, held.sp);
  fclose(f);
  return fields == 2 ? held : defaults;
}

/* Written aside and renamed, so that a reader finds the old or the new pair. */
static void remember(const char* file, unsigned long request, const char* dotted) {
  if (!file) return;
  struct held_addresses held = load_held(file);
  snprintf(request == SET_SP_IP_IOCTL ? held.sp : held.plat, INET_ADDRSTRLEN, "%s", dotted);
  char aside[PATH_MAX];
  snprintf(aside, sizeof aside, "%s.new", file);
  FILE* f = fopen(aside, "w");
  if (!f) return;
  fprintf(f, "plat %s\nsp %s\n", held.plat, held.sp);
  if (fclose(f) == 0) rename(aside, file);
}

static int emulate(unsigned long request, void* arg) {
  char dotted[INET_ADDRSTRLEN] = "failed";
  const char* name = request == SET_PLAT_IP_IOCTL   ? "SET_PLAT_IP_IOCTL"
                     : request == GET_PLAT_IP_IOCTL ? "GET_PLAT_IP_IOCTL"
                     : request == SET_SP_IP_IOCTL   ? "SET_SP_IP_IOCTL"
                                                    : NULL;
  if (!name) {
    log_line("UNKNOWN", request, NULL);
    errno = EINVAL;
    return -1;
  }
  int fail = listed(getenv("RUVO_STANDIN_FAIL"), name);
  if (request == GET_PLAT_IP_IOCTL) {
    const char* answer = getenv("RUVO_STANDIN_GET");
    const struct held_addresses held = load_held(getenv("RUVO_STANDIN_STATE"));
    struct in_addr addr;
    if (!answer) answer = held.plat;
    fail = fail || inet_aton(answer, &addr) == 0;
    if (!fail) {
      memcpy(arg, &addr, sizeof addr);
      inet_ntop(AF_INET, &addr, dotted, sizeof dotted);
    }
  } else {
    inet_ntop(AF_INET, arg, dotted, sizeof dotted);
  }
  log_line(name, request, dotted);
  if (fail) {
    errno = EIO;
    return -1;
  }
  if (request != GET_PLAT_IP_IOCTL) remember(getenv("RUVO_STANDIN_STATE"), request, dotted);
  return 0;
}

static int dispatch(const char* real_name, int fd, unsigned long request, void* arg) {
  if (is_driver_node(fd)) return emulate(request, arg);
  ioctl_fn real = (ioctl_fn)dlsym(RTLD_NEXT, real_name);
  if (!real) {
    errno = ENOSYS;
    return -1;
  }
  return real(fd, request, arg);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  return dispatch("ioctl", fd, request, arg);
}

#if defined(__GLIBC__) && __WORDSIZE == 32 && !defined(__USE_TIME_BITS64)
/* 32-bit programs built with 64-bit time_t call this name instead. */
int __ioctl_time64(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  return dispatch("__ioctl_time64", fd, request, arg);
}
#endif
