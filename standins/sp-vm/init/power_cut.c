#include "power_cut.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include "command.h"
#include "flash.h"
#include "report.h"

static const char* const saved_files[] = {"/pstore/ruvo_config", "/etc/hosts"};
enum { kFiles = 2, kMostProcesses = 64 };

struct versions {
  struct content old_version[kFiles];
  struct content new_version[kFiles];
};

/* zarn and the processes it started, all traced, so that none outlives a cut. */
struct family {
  pid_t zarn;
  pid_t others[kMostProcesses];
  int other_count;
  long last_call; /* the number of zarn's system call in progress */
};

static void read_versions(struct content versions[kFiles]) {
  for (int i = 0; i < kFiles; i++) versions[i] = read_file(saved_files[i]);
}

/* A file that is neither version has its bytes reported too, under its path. */
static const char* version_name(int step, const struct versions* known, int file) {
  struct content now = read_file(saved_files[file]);
  const char* name = !now.bytes                                    ? "missing"
                     : same_content(now, known->old_version[file]) ? "old"
                     : same_content(now, known->new_version[file]) ? "new"
                                                                   : "other";
  if (strcmp(name, "other") == 0) report_bytes(step, saved_files[file], now.bytes, now.length);
  free_content(&now);
  return name;
}

static void remember(struct family* family, pid_t pid) {
  for (int i = 0; i < family->other_count; i++)
    if (family->others[i] == pid) return;
  if (family->other_count < kMostProcesses) family->others[family->other_count++] = pid;
}

static void forget(struct family* family, pid_t pid) {
  for (int i = 0; i < family->other_count; i++)
    if (family->others[i] == pid) family->others[i] = family->others[--family->other_count];
}

static pid_t start_traced(char* const argv[]) {
  pid_t pid = fork();
  if (pid == 0) {
    become_command(-1, -1);
    ptrace(PTRACE_TRACEME, 0, NULL, NULL);
    raise(SIGSTOP);
    execvp(argv[0], argv);
    _exit(127);
  }
  int status;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_TRACEFORK |
                 PTRACE_O_TRACEVFORK | PTRACE_O_TRACECLONE | PTRACE_O_EXITKILL;
  ptrace(PTRACE_SETOPTIONS, pid, NULL, (void*)options);
  ptrace(PTRACE_SYSCALL, pid, NULL, NULL);
  return pid;
}

/* A process zarn started runs freely, its events and first stop passed over. */
static void resume_other(struct family* family, pid_t pid, int status) {
  remember(family, pid);
  int signal = WSTOPSIG(status);
  bool passed_over = status >> 16 != 0 || signal == SIGSTOP || signal == SIGTRAP;
  ptrace(PTRACE_CONT, pid, NULL, (void*)(long)(passed_over ? 0 : signal));
}

/* zarn stopped: true once its `wanted`th system call since the exec has
 * returned. A signal for it is delivered, its other stops passed over. */
static bool reached(struct family* family, int status, int wanted, int* calls, bool* execed) {
  int event = status >> 16;
  int signal = WSTOPSIG(status);
  if (event == PTRACE_EVENT_EXEC) *execed = true;
  if (event == PTRACE_EVENT_FORK || event == PTRACE_EVENT_VFORK || event == PTRACE_EVENT_CLONE) {
    unsigned long child = 0;
    ptrace(PTRACE_GETEVENTMSG, family->zarn, NULL, &child);
    remember(family, (pid_t)child);
  }
  if (signal == (SIGTRAP | 0x80)) {
    struct __ptrace_syscall_info info;
    ptrace(PTRACE_GET_SYSCALL_INFO, family->zarn, (void*)sizeof info, &info);
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY) family->last_call = (long)info.entry.nr;
    if (info.op == PTRACE_SYSCALL_INFO_EXIT && *execed && ++*calls == wanted) return true;
  }
  bool delivered = event == 0 && signal != (SIGTRAP | 0x80) && signal != SIGTRAP;
  ptrace(PTRACE_SYSCALL, family->zarn, NULL, (void*)(long)(delivered ? signal : 0));
  return false;
}

/* True with zarn stopped after its `wanted`th system call; false once it ended first. */
static bool run_until_call(struct family* family, int wanted) {
  int calls = 0;
  bool execed = false;
  for (;;) {
    int status;
    pid_t pid = waitpid(-1, &status, __WALL);
    if (pid < 0) return false;
    bool ended = WIFEXITED(status) || WIFSIGNALED(status);
    if (pid == family->zarn && ended) return false;
    if (ended) {
      forget(family, pid);
    } else if (pid != family->zarn) {
      resume_other(family, pid, status);
    } else if (reached(family, status, wanted, &calls, &execed)) {
      return true;
    }
  }
}

/* The power goes: every process of the save ends at once. */
static void end_family(struct family* family) {
  bool zarn_alive = true;
  kill(family->zarn, SIGKILL);
  for (int i = 0; i < family->other_count; i++) kill(family->others[i], SIGKILL);
  while (zarn_alive || family->other_count > 0) {
    int status;
    pid_t pid = waitpid(-1, &status, __WALL);
    if (pid < 0) return;
    if (WIFSTOPPED(status)) {
      remember(family, pid);
      kill(pid, SIGKILL);
    } else if (pid == family->zarn) {
      zarn_alive = false;
    } else {
      forget(family, pid);
    }
  }
}

/* Puts `image` on the flash and mounts it. */
static bool boot_from(struct content image, enum table_place place) {
  return unmount_flash() && write_flash(image) && mount_flash(place);
}

/* The save run again after a cut: its status and output, and the files it left. */
static void report_next_save(int step, int cut, const struct versions* known, char* const argv[]) {
  struct run next;
  if (!run_command(argv, &next)) next.status = 127;
  report(step, "next", "%d status=%d settings=%s hosts=%s", cut, next.status,
         version_name(step, known, 0), version_name(step, known, 1));
  report_bytes(step, "next-out", next.out.bytes, next.out.length);
  free_run(&next);
}

/* One cut after the save's `cut`th system call; false once the save ended
 * before it, or when the flash image from before the save cannot be used. */
static bool cut_once(int step, int cut, struct content before, const struct versions* known,
                     enum table_place place, char* const argv[]) {
  if (!boot_from(before, place)) {
    report(step, "error", "the flash image before the save did not mount");
    return false;
  }
  struct family family = {.zarn = start_traced(argv)};
  if (family.zarn < 0 || !run_until_call(&family, cut)) return false;
  struct content image = read_flash();
  end_family(&family);
  bool mounted = boot_from(image, place);
  free_content(&image);
  if (mounted) {
    report(step, "cut", "%d call=%ld mounted=yes settings=%s hosts=%s", cut, family.last_call,
           version_name(step, known, 0), version_name(step, known, 1));
    report_next_save(step, cut, known, argv);
  } else {
    report(step, "cut", "%d call=%ld mounted=no", cut, family.last_call);
  }
  return true;
}

void cut_power_during(int step, enum table_place place, char* const argv[]) {
  if (!unmount_flash()) {
    report(step, "error", "the flash did not unmount");
    return;
  }
  struct content before = read_flash();
  struct versions known;
  struct run reference;
  bool mounted = mount_flash(place);
  read_versions(known.old_version);
  if (!mounted || !run_command(argv, &reference)) {
    report(step, "error", "the save did not run");
    return;
  }
  read_versions(known.new_version);
  report(step, "status", "%d", reference.status);
  report_bytes(step, "out", reference.out.bytes, reference.out.length);
  for (int i = 0; i < kFiles; i++) {
    report_bytes(step, "old", known.old_version[i].bytes, known.old_version[i].length);
    report_bytes(step, "new", known.new_version[i].bytes, known.new_version[i].length);
  }
  free_run(&reference);
  int cut = 1;
  while (cut_once(step, cut, before, &known, place, argv)) cut++;
  report(step, "points", "%d", cut - 1);
  boot_from(before, kTableInEtc);
  free_content(&before);
}
