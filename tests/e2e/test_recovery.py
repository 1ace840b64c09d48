"""Journals the next run finds in /pstore: one it cannot apply stays, every one zarn did not
write is set aside and said so; a journal that may not last is never relied on, and no other user
can hold a save up. Crashes in the save itself: test_save_safety."""
import os
import subprocess
import time
import zlib

import harness
from harness import DONE, NO_HOSTS, SETTINGS, pstore, read, remove, write
from test_save import OLD_HOSTS, OLD_SETTINGS
from test_save_safety import ADMIN, ENTRY, JOURNAL, SAVED, SafetyFixture, aside, append

SETTINGS_JOURNAL = "/pstore/ruvo_config.zarn-journal"
NOBODY = 65534


def journal(target, old, new, inode=None):
    """A journal as zarn writes it for `target`, its old and its new content."""
    inode = os.stat(target).st_ino if inode is None else inode
    body = (f"zarn-journal 1\ntarget {target}\ninode {inode:020d}\n"
            f"old {len(old):010d}\nnew {len(new):010d}\n{old}{new}")
    return body + f"crc32 {zlib.crc32(body.encode()):08x}\n"


def leave(path, text):
    """Puts a journal where zarn keeps it, private as zarn makes it."""
    os.chmod(write(path, text), 0o600)


class RecoveryTest(SafetyFixture):
    def test_a_journal_that_cannot_be_applied_stays_and_the_table_is_not_saved(self):
        self.held(self.bound)
        subprocess.run(["mount", "-o", "remount,ro,bind", "/etc/hosts"], check=True)
        leave(JOURNAL, journal("/etc/hosts", OLD_HOSTS, "1.2.3.4 written\n"))
        unable = f"ZARN: unable to complete the interrupted save of /etc/hosts from {JOURNAL}\n".encode()
        self.assertEqual((*self.set_ruvo()[:2], read("/etc/hosts"), pstore()),
                         (NO_HOSTS + DONE, unable, OLD_HOSTS, ["hosts.zarn-journal", "ruvo_config"]))

    def test_a_lock_that_cannot_be_replaced_stops_the_save_and_leaves_nothing_beside_it(self):
        self.fresh(OLD_SETTINGS)
        remove("/pstore/zarn.lock")
        os.makedirs("/pstore/zarn.lock/kept")
        self.addCleanup(remove, "/pstore/zarn.lock")
        r = self.set_ruvo("--trace")
        self.assertEqual((r.out, b"trace: save lock /pstore/zarn.lock: not to be had\n" in r.err,
                          sorted(os.listdir("/pstore"))), (harness.CANT_SAVE + DONE, True, ["ruvo_config", "zarn.lock"]))

    def test_journals_zarn_did_not_write_are_set_aside(self):
        def crafted(target="/etc/hosts", inode=None):
            leave(JOURNAL, journal(target, OLD_HOSTS, "1.1.1.1 injected\n", inode))

        victim = write(self.path("victim"), "untouched\n")
        shapes = [  # name, how the journal is left -> the reason given
            ("empty", lambda: write(JOURNAL, ""), "not a zarn journal"),
            ("abc", lambda: write(JOURNAL, "abc"), "not a zarn journal"),
            ("over an empty directory", lambda: (os.mkdir(JOURNAL + ".set-aside"), write(JOURNAL, "abc")),
             "not a zarn journal"),
            ("no target", lambda: crafted("", inode=0), "not a zarn journal"),
            ("a target no path can be", lambda: crafted("/" * 4096, inode=0), "not a zarn journal"),
            ("sparse", lambda: os.truncate(write(JOURNAL, "0\n"), 5 << 20), "too large"),
            ("cut short", lambda: (crafted(), os.truncate(JOURNAL, 200)), "damaged"),
            ("link", lambda: os.symlink(victim, JOURNAL), "not a regular file"),
            ("directory", lambda: os.mkdir(JOURNAL), "not a regular file"),
            ("fifo", lambda: os.mkfifo(JOURNAL), "not a regular file"),
            ("another user's", lambda: (os.chmod("/pstore", 0o1777), crafted(), os.chown(JOURNAL, NOBODY, NOBODY)),
             "not owned by the user running zarn"),  # in a /pstore anyone may write
            ("linked twice", lambda: (crafted(), os.link(JOURNAL, JOURNAL + ".2")), "more than one link"),
            ("another file's", lambda: crafted(SETTINGS, inode=0), "written for another file"),
            ("replaced table", lambda: (crafted(), os.replace(write("/etc/hosts.edited", OLD_HOSTS),
                                                              "/etc/hosts")),  # by an editor, same lines
             "the file was replaced since"),
            ("edited table", lambda: (crafted(), append("/etc/hosts", ADMIN)),
             "the file was changed since"),
            ("settings", lambda: write(SETTINGS_JOURNAL, "abc"), "not a zarn journal"),
        ]
        self.addCleanup(os.chmod, "/pstore", 0o755)
        for name, make, reason in shapes:
            with self.subTest(name):
                os.chmod("/pstore", 0o755)
                self.fresh(OLD_SETTINGS)
                make()
                path, target = ((SETTINGS_JOURNAL, SETTINGS) if name == "settings"
                                else (JOURNAL, "/etc/hosts"))
                r = self.set_ruvo()
                self.assertEqual((r.out, r.err, r.status, read(SETTINGS), read(victim)),
                                 (DONE, aside(path, target, reason), 0, SAVED, "untouched\n"))
                hosts = read("/etc/hosts")
                self.assertEqual(("injected" in hosts, ADMIN in hosts, hosts.endswith(ENTRY)),
                                 (False, name == "edited table", True))
                self.assertIn(os.path.basename(path) + ".set-aside", pstore())
                remove(JOURNAL + ".2")
                self.assertEqual(self.set_ruvo().err, b"")  # nothing left to stumble on

    def test_no_other_user_can_hold_a_save_up(self):
        self.assertEqual(self.set_ruvo().out, DONE)  # the lock file now stands in /pstore
        as_nobody = {"user": NOBODY, "group": NOBODY, "extra_groups": []}
        with self.assertRaises(subprocess.CalledProcessError):
            subprocess.run(["flock", "/pstore/zarn.lock", "true"], check=True,
                           stderr=subprocess.DEVNULL, **as_nobody)
        holder = subprocess.Popen(["flock", "/pstore", "sleep", "12"], **as_nobody)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        time.sleep(0.2)
        r = self.set_ruvo(wait=2)
        self.assertEqual((r.out, r.status, r.elapsed < 2), (DONE, 0, True))

        self.fresh(OLD_SETTINGS)  # root's own holder is waited for, as long as the timer allows
        with subprocess.Popen(["flock", "/pstore/zarn.lock", "sleep", "3"]) as root_holder:
            time.sleep(0.2)
            r = self.set_ruvo(wait=1)
            root_holder.kill()
        self.assertEqual((r.out, r.status, self.driver()), (harness.TIMEOUT, 2, []))
        self.assert_untouched(OLD_SETTINGS)

    def test_a_journal_that_may_not_last_leaves_the_table_untouched(self):
        self.addCleanup(os.chmod, "/pstore", 0o755)
        for name, faults, pstore_mode in (("directory sync fails", {"ZARN_FAIL": "fsync-directory"}, 0o755),
                                          ("/pstore open to all", {}, 0o1777)):
            with self.subTest(name):
                table = self.held(self.bound)
                os.chmod("/pstore", pstore_mode)
                self.assertEqual((self.injected(**faults).out, read(table), read(SETTINGS), pstore(), self.ran()),
                                 (NO_HOSTS + DONE, OLD_HOSTS, SAVED, ["ruvo_config"], []))

    def test_a_bind_mounted_settings_file_ends_owned_by_root(self):
        settings = write(os.path.join(self.scratch_mount(), "ruvo_config"), OLD_SETTINGS)
        os.chown(settings, 1234, 1234)
        os.chmod(settings, 0o600)
        subprocess.run(["mount", "--bind", settings, SETTINGS], check=True)
        self.addCleanup(subprocess.run, ["umount", SETTINGS])
        self.assertEqual(self.set_ruvo().out, DONE)
        st = os.stat(settings)
        self.assertEqual((read(settings), st.st_uid, st.st_gid, st.st_mode & 0o7777, pstore()),
                         (SAVED, 0, 0, 0o600, ["ruvo_config"]))
