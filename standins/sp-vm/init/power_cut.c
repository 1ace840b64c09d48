#include "power_cut.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "command.h"
#include "report.h"

static const char* const saved_files[] = {"/pstore/ruvo_config", "/etc/hosts"};
enum { kFiles = 2, kTable = 1, kMostProcesses = 64 };

struct versions {
  struct content old_version[kFiles];
  struct content new_version[kFiles];
};

/* The calls of a save that write and commit a journal, counted from the
 * exec; 0 until seen. How many calls come before them varies from run to run
 * (the exchange with the agent), so each run finds its own. */
struct window {
  const char* journal;
  char temporary[256];
  int first;   /* the call that created the journal's temporary */
  int renamed; /* the call after which the journal stood under its own name */
  int last;    /* the sync of its directory that followed */
};

/* zarn and the processes it started, all traced, so that none outlives a cut. */
struct family {
  pid_t zarn;
  pid_t others[kMostProcesses];
  int other_count;
  long last_call;        /* the number of zarn's system call in progress */
  struct window* window; /* when there is one, calls are counted from its first */
};

/* A run of power cuts: the save, where it starts from and what it is measured
 * against; with a journal, only the calls that write it are cut, and `edit`
 * is the administrator's, made after each cut. */
struct cuts {
  int step;
  enum table_place place;
  char* const* argv;
  struct content before; /* the raw flash before the save */
  struct versions known;
  const char* journal;
  struct content edit;
  struct versions edited; /* as `known`, the edit made before the save */
};

static void read_versions(struct content versions[kFiles]) {
  for (int i = 0; i < kFiles; i++) versions[i] = read_file(saved_files[i]);
}

static void free_versions(struct versions* versions) {
  for (int i = 0; i < kFiles; i++) {
    free_content(&versions->old_version[i]);
    free_content(&versions->new_version[i]);
  }
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

/* As an administrator would add a line to the file, with no sync. */
static bool append_file(const char* path, struct content bytes) {
  int fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  bool whole = write(fd, bytes.bytes, bytes.length) == (ssize_t)bytes.length;
  return close(fd) == 0 && whole;
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

/* With zarn stopped after its `call`th system call, whose number is `number`:
 * the journal's temporary is created, renamed to the journal, then the
 * directory is synced. */
static void watch(struct window* window, int call, long number) {
  if (!window->first) {
    if (access(window->temporary, F_OK) == 0) window->first = call;
  } else if (!window->renamed) {
    if (access(window->journal, F_OK) == 0 && access(window->temporary, F_OK) != 0)
      window->renamed = call;
  } else if (!window->last && number == SYS_fsync) {
    window->last = call;
  }
}

/* zarn stopped: true once its `wanted`th system call since the exec (or
 * since its window opened, the first call of the window being the 1st) has
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
    if (info.op == PTRACE_SYSCALL_INFO_EXIT && *execed) {
      struct window* window = family->window;
      ++*calls;
      if (window) watch(window, *calls, family->last_call);
      if (window ? window->first && *calls - window->first + 1 == wanted : *calls == wanted)
        return true;
    }
  }
  bool delivered = event == 0 && signal != (SIGTRAP | 0x80) && signal != SIGTRAP;
  ptrace(PTRACE_SYSCALL, family->zarn, NULL, (void*)(long)(delivered ? signal : 0));
  return false;
}

/* True with zarn stopped after its `wanted`th system call (reached() counts
 * them); false once it ended first. */
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

static void report_keyed(int step, const char* key, const char* suffix, struct content bytes) {
  char name[64];
  snprintf(name, sizeof name, "%s-%s", key, suffix);
  report_bytes(step, name, bytes.bytes, bytes.length);
}

/* The save run again after a cut: its status and output, and the files it
 * left, reported under `key`. */
static void report_save(int step, const char* key, int cut, const struct versions* known,
                        char* const argv[]) {
  struct run save;
  if (!run_command(argv, &save)) save.status = 127;
  report(step, key, "%d status=%d settings=%s hosts=%s", cut, save.status,
         version_name(step, known, 0), version_name(step, known, 1));
  report_keyed(step, key, "out", save.out);
  report_keyed(step, key, "err", save.err);
  free_run(&save);
}

/* From the flash image before the save (the table edited first when `edit`
 * has bytes), the save runs once to learn each file's version before and
 * after it, all reported with `prefix` before each key. */
static bool learn_versions(const struct cuts* cuts, const char* prefix, struct content edit,
                           struct versions* versions) {
  char key[32];
  struct run reference;
  bool ready = boot_from(cuts->before, cuts->place) &&
               (!edit.length || append_file(saved_files[kTable], edit));
  read_versions(versions->old_version);
  if (!ready || !run_command(cuts->argv, &reference)) {
    report(cuts->step, "error", "the save did not run");
    return false;
  }
  read_versions(versions->new_version);
  snprintf(key, sizeof key, "%sstatus", prefix);
  report(cuts->step, key, "%d", reference.status);
  snprintf(key, sizeof key, "%sout", prefix);
  report_bytes(cuts->step, key, reference.out.bytes, reference.out.length);
  for (int i = 0; i < kFiles; i++) {
    snprintf(key, sizeof key, "%sold", prefix);
    report_bytes(cuts->step, key, versions->old_version[i].bytes, versions->old_version[i].length);
    snprintf(key, sizeof key, "%snew", prefix);
    report_bytes(cuts->step, key, versions->new_version[i].bytes, versions->new_version[i].length);
  }
  free_run(&reference);
  return true;
}

/* After a cut in the journal's write: the administrator's edit, then the save
 * twice, and what is left in the directories it writes. */
static void edit_and_save(const struct cuts* cuts, int cut) {
  if (!append_file(saved_files[kTable], cuts->edit))
    report(cuts->step, "error", "%s not edited", saved_files[kTable]);
  report_save(cuts->step, "next", cut, &cuts->edited, cuts->argv);
  report_save(cuts->step, "again", cut, &cuts->edited, cuts->argv);
  static const char* const directories[][2] = {{"/pstore", "left-pstore"}, {"/etc", "left-etc"}};
  for (int i = 0; i < 2; i++) {
    struct content names = names_in(directories[i][0]);
    report_bytes(cuts->step, directories[i][1], names.bytes, names.length);
    free_content(&names);
  }
}

/* One cut after the save's `cut`th system call, counted from the opening of
 * `window` when there is one; false once the save ended before it, or when
 * the flash image from before the save cannot be used. */
static bool cut_once(const struct cuts* cuts, int cut, struct window* window) {
  int step = cuts->step;
  if (!boot_from(cuts->before, cuts->place)) {
    report(step, "error", "the flash image before the save did not mount");
    return false;
  }
  if (window) {
    *window = (struct window){.journal = cuts->journal};
    snprintf(window->temporary, sizeof window->temporary, "%s.zarn-new", cuts->journal);
  }
  struct family family = {.zarn = start_traced(cuts->argv), .window = window};
  if (family.zarn < 0 || !run_until_call(&family, cut)) return false;
  struct content image = read_flash();
  end_family(&family);
  bool mounted = boot_from(image, cuts->place);
  free_content(&image);
  if (!mounted) {
    report(step, "cut", "%d call=%ld mounted=no", cut, family.last_call);
  } else if (!cuts->journal) {
    report(step, "cut", "%d call=%ld mounted=yes settings=%s hosts=%s", cut, family.last_call,
           version_name(step, &cuts->known, 0), version_name(step, &cuts->known, 1));
    report_save(step, "next", cut, &cuts->known, cuts->argv);
  } else {
    report(step, "cut", "%d call=%ld mounted=yes settings=%s hosts=%s journal=%s", cut,
           family.last_call, version_name(step, &cuts->known, 0),
           version_name(step, &cuts->known, 1), access(cuts->journal, F_OK) == 0 ? "yes" : "no");
    edit_and_save(cuts, cut);
  }
  return true;
}

static bool start_cuts(struct cuts* cuts) {
  if (!unmount_flash()) {
    report(cuts->step, "error", "the flash did not unmount");
    return false;
  }
  cuts->before = read_flash();
  return learn_versions(cuts, "", (struct content){0}, &cuts->known);
}

static void end_cuts(struct cuts* cuts, int points) {
  report(cuts->step, "points", "%d", points);
  boot_from(cuts->before, kTableInEtc);
  free_content(&cuts->before);
  free_versions(&cuts->known);
  free_versions(&cuts->edited);
}

void cut_power_during(int step, enum table_place place, char* const argv[]) {
  struct cuts cuts = {.step = step, .place = place, .argv = argv};
  if (!start_cuts(&cuts)) return;
  int cut = 1;
  while (cut_once(&cuts, cut, NULL)) cut++;
  end_cuts(&cuts, cut - 1);
}

void cut_power_in_journal(int step, enum table_place place, const char* journal,
                          struct content edit, char* const argv[]) {
  struct cuts cuts = {.step = step, .place = place, .argv = argv, .journal = journal, .edit = edit};
  if (!start_cuts(&cuts)) return;
  int points = 0;
  if (learn_versions(&cuts, "edited-", edit, &cuts.edited)) {
    struct window window = {0};
    while (!window.last && cut_once(&cuts, points + 1, &window)) points++;
    if (window.last)
      report(step, "renamed", "%d", window.renamed - window.first + 1);
    else
      report(step, "error", "the save did not write and commit %s", journal);
  }
  end_cuts(&cuts, points);
}
