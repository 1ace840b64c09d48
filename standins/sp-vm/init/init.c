/* The virtual SP's first process: mounts what an SP has (devtmpfs, proc,
 * sysfs, a tmpfs /tmp, /pstore and /etc on flash), loads the ruvo driver,
 * brings up the link, keeps the system log, runs the host's plan and powers
 * the machine off. */
#include <fcntl.h>
#include <stdlib.h>
#include <sys/klog.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "files.h"
#include "flash.h"
#include "link.h"
#include "plan.h"
#include "report.h"
#include "system_log.h"

static const char kHostsTable[] = "127.0.0.1\tlocalhost\n";

static bool mount_system(void) {
  return mount("devtmpfs", "/dev", "devtmpfs", 0, NULL) == 0 &&
         mount("proc", "/proc", "proc", 0, NULL) == 0 &&
         mount("sysfs", "/sys", "sysfs", 0, NULL) == 0 &&
         mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") == 0;
}

static bool load_driver(void) {
  int fd = open("/lib/modules/ruvo.ko", O_RDONLY | O_CLOEXEC);
  return fd >= 0 && syscall(SYS_finit_module, fd, "", 0) == 0 && close(fd) == 0;
}

static const char* start(void) {
  if (!mount_system()) return "mounting the system's file systems failed";
  if (!open_system_log()) return "opening the system log failed";
  if (!load_driver()) return "loading the ruvo driver failed";
  if (!start_link()) return "bringing up the link failed";
  if (!format_flash()) return "preparing the flash failed";
  if (!write_file("/etc/hosts", kHostsTable, sizeof kHostsTable - 1))
    return "writing /etc/hosts failed";
  return NULL;
}

int main(void) {
  setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
  const char* failure = start();
  klogctl(5 /* SYSLOG_ACTION_CLEAR */, NULL, 0);
  if (failure)
    report(0, "fatal", "%s", failure);
  else
    run_plan("/sp-vm/plan");
  report(0, "done", "%s", failure ? "failed" : "ok");
  sync();
  reboot(RB_POWER_OFF);
  return 0;
}
