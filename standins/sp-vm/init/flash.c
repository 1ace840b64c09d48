#include "flash.h"

#include <errno.h>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <mtd/ubi-user.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

#define MTD_DEVICE "/dev/mtd0"
#define UBI_CONTROL "/dev/ubi_ctrl"

static const char* const volumes[][2] = {{"pstore", "/pstore"}, {"etc", "/etc"}};
/* Both fit the 4 MiB device beside the blocks UBI keeps for itself. */
enum { kVolumeBytes = 1536 * 1024 };

static bool ask_ubi(const char* node, unsigned long request, void* argument) {
  int fd = open(node, O_RDONLY | O_CLOEXEC);
  bool done = fd >= 0 && ioctl(fd, request, argument) == 0;
  if (fd >= 0) close(fd);
  return done;
}

static bool attach(void) {
  struct ubi_attach_req request = {.ubi_num = 0, .mtd_num = 0};
  return ask_ubi(UBI_CONTROL, UBI_IOCATT, &request);
}

static bool make_volume(const char* name) {
  struct ubi_mkvol_req request = {.vol_id = UBI_VOL_NUM_AUTO,
                                  .alignment = 1,
                                  .bytes = kVolumeBytes,
                                  .vol_type = UBI_DYNAMIC_VOLUME,
                                  .name_len = (short)strlen(name)};
  snprintf(request.name, sizeof request.name, "%s", name);
  return ask_ubi("/dev/ubi0", UBI_IOCMKVOL, &request);
}

static bool mount_volumes(unsigned long etc_flags) {
  for (size_t i = 0; i < sizeof volumes / sizeof volumes[0]; i++) {
    char source[32];
    snprintf(source, sizeof source, "ubi0:%s", volumes[i][0]);
    unsigned long flags = strcmp(volumes[i][1], "/etc") == 0 ? etc_flags : 0;
    if (mount(source, volumes[i][1], "ubifs", flags, NULL) != 0) return false;
  }
  return true;
}

bool format_flash(void) {
  return attach() && make_volume("pstore") && make_volume("etc") && mount_volumes(0);
}

bool mount_flash(enum table_place place) {
  if (!attach() || !mount_volumes(place == kTableOverReadOnly ? MS_RDONLY : 0)) return false;
  switch (place) {
    case kTableInEtc: return true;
    case kTableBound: return mount("/etc/hosts", "/etc/hosts", NULL, MS_BIND, NULL) == 0;
    case kTableOverReadOnly: return mount("/pstore/hosts", "/etc/hosts", NULL, MS_BIND, NULL) == 0;
  }
  return false;
}

/* What is already unmounted or detached counts as done, as does a mount
 * point that is gone with the volume it was on. */
bool unmount_flash(void) {
  static const char* const mount_points[] = {"/etc/hosts", "/etc", "/pstore"};
  int device = 0;
  bool done = true;
  for (size_t i = 0; i < sizeof mount_points / sizeof mount_points[0]; i++)
    done &= umount(mount_points[i]) == 0 || errno == EINVAL || errno == ENOENT;
  return done && (ask_ubi(UBI_CONTROL, UBI_IOCDET, &device) || errno == ENODEV || errno == EINVAL);
}

struct content read_flash(void) {
  return read_file(MTD_DEVICE);
}

bool write_flash(struct content image) {
  int fd = open(MTD_DEVICE, O_RDWR | O_CLOEXEC);
  struct mtd_info_user info;
  bool written = fd >= 0 && ioctl(fd, MEMGETINFO, &info) == 0 && info.size == image.length;
  for (uint32_t at = 0; written && at < info.size; at += info.erasesize) {
    struct erase_info_user block = {.start = at, .length = info.erasesize};
    written = ioctl(fd, MEMERASE, &block) == 0 &&
              pwrite(fd, image.bytes + at, info.erasesize, at) == (ssize_t)info.erasesize;
  }
  if (fd >= 0) close(fd);
  return written;
}
