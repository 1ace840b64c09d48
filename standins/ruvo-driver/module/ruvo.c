// SPDX-License-Identifier: GPL-2.0
/*
 * The ruvo link driver's contract with zarn, in a driver small enough to
 * read at a glance. The virtual SP loads it; an SP's own driver must answer
 * the same way.
 *
 * Node: /dev/ruvo/ruvo0, a misc device; zarn opens it O_RDWR for each
 * operation and closes it afterwards.
 *
 * Requests, each with a pointer to 4 bytes holding an IPv4 address in network
 * byte order (first octet at the lowest address, as inet_aton stores it):
 *   SET_PLAT_IP_IOCTL _IOR('J', 31, __u32)  set the platform end's address
 *   GET_PLAT_IP_IOCTL _IOR('J', 32, __u32)  fill the 4 bytes with it
 *   SET_SP_IP_IOCTL   _IOR('J', 41, __u32)  set the SP end's address
 * On 32-bit PowerPC they are 0x40044a1f, 0x40044a20 and 0x40044a29 (the read
 * direction sits in the top three bits there; x86 puts it in the top two,
 * 0x80044a1f...). The set requests carry the read direction too although the
 * driver reads their argument: the numbers were fixed that way and zarn
 * sends them so.
 *
 * Results: 0 on success. A failure is a negative errno, which the caller
 * sees as -1: -EFAULT when the argument cannot be read or written, -ENOTTY
 * for any other request, and -EIO for a request named in the "fail"
 * parameter, so that a test can make the caller's error paths run:
 *   echo SET_SP_IP_IOCTL,GET_PLAT_IP_IOCTL >/sys/module/ruvo/parameters/fail
 *
 * Every request is logged at KERN_INFO as "ruvo: NAME NUMBER ADDRESS" (the
 * address it was given or answered, or "failed").
 */
#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/fs.h>
#include <linux/inet.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/string.h>
#include <linux/uaccess.h>

#define SET_PLAT_IP_IOCTL _IOR('J', 31, __u32)
#define GET_PLAT_IP_IOCTL _IOR('J', 32, __u32)
#define SET_SP_IP_IOCTL _IOR('J', 41, __u32)

/* Both ends' addresses as the requests carry them, network byte order. */
static u8 platform_address[4] = {169, 254, 101, 3};
static u8 sp_address[4] = {169, 254, 101, 2};
static DEFINE_MUTEX(addresses_lock);

static char* fail = "";
module_param(fail, charp, 0644);
MODULE_PARM_DESC(fail, "names of the requests that fail with EIO, comma-separated");

struct request {
  unsigned int number;
  const char* name;
  u8* address;
  bool sets;
};

static const struct request requests[] = {
    {SET_PLAT_IP_IOCTL, "SET_PLAT_IP_IOCTL", platform_address, true},
    {GET_PLAT_IP_IOCTL, "GET_PLAT_IP_IOCTL", platform_address, false},
    {SET_SP_IP_IOCTL, "SET_SP_IP_IOCTL", sp_address, true},
};

static bool made_to_fail(const char* name) {
  size_t length = strlen(name);
  const char* at;
  bool listed = false;

  kernel_param_lock(THIS_MODULE);
  for (at = fail; *at; at += strcspn(at, ",")) {
    at += strspn(at, ",");
    listed |= strncmp(at, name, length) == 0 &&
              (at[length] == ',' || at[length] == '\0' || at[length] == '\n');
  }
  kernel_param_unlock(THIS_MODULE);
  return listed;
}

static long answer(const struct request* request, u8 __user* argument) {
  u8 address[4];

  if (request->sets && copy_from_user(address, argument, sizeof address)) return -EFAULT;
  if (made_to_fail(request->name)) {
    if (request->sets)
      pr_info("%s %#x %pI4\n", request->name, request->number, address);
    else
      pr_info("%s %#x failed\n", request->name, request->number);
    return -EIO;
  }
  mutex_lock(&addresses_lock);
  if (request->sets)
    memcpy(request->address, address, sizeof address);
  else
    memcpy(address, request->address, sizeof address);
  mutex_unlock(&addresses_lock);
  pr_info("%s %#x %pI4\n", request->name, request->number, address);
  if (!request->sets && copy_to_user(argument, address, sizeof address)) return -EFAULT;
  return 0;
}

static long ruvo_ioctl(struct file* file, unsigned int number, unsigned long argument) {
  size_t i;

  for (i = 0; i < ARRAY_SIZE(requests); i++)
    if (requests[i].number == number) return answer(&requests[i], (u8 __user*)argument);
  return -ENOTTY;
}

static const struct file_operations ruvo_fops = {
    .owner = THIS_MODULE,
    .unlocked_ioctl = ruvo_ioctl,
    .llseek = noop_llseek,
};

static struct miscdevice ruvo_device = {
    .minor = MISC_DYNAMIC_MINOR,
    .name = "ruvo0",
    .nodename = "ruvo/ruvo0",
    .mode = 0600,
    .fops = &ruvo_fops,
};
module_misc_device(ruvo_device);

MODULE_DESCRIPTION("ruvo link driver contract, for the virtual SP");
MODULE_LICENSE("GPL");
