"""What the next run makes of an interrupted in-place save: it completes a journal of its own
only over what the rewrite can have left, sets every other journal aside and says so, and no
other user can hold a save up."""
import itertools
import os
import re
import subprocess
import time
import zlib

import harness
from harness import DONE, NO_HOSTS, SETTINGS, pstore, read, remove, write
from test_save import OLD_HOSTS, OLD_SETTINGS
from test_save_safety import ENTRY, SAVED, SafetyFixture

JOURNAL = "/pstore/hosts.zarn-journal"
SETTINGS_JOURNAL = "/pstore/ruvo_config.zarn-journal"
ADMIN = "10.9.9.9\tadmin-edit\n"
NOBODY = 65534


def journal(target, old, new, inode=None):
    """A journal as zarn writes it for `target`, its old and its new content."""
    inode = os.stat(target).st_ino if inode is None else inode
    body = (f"zarn-journal 1\ntarget {target}\ninode {inode:020d}\n"
            f"old {len(old):010d}\nnew {len(new):010d}\n").encode() + old.encode() + new.encode()
    return body + f"crc32 {zlib.crc32(body):08x}\n".encode()


def leave(path, data):
    """Puts a journal where zarn keeps it, private as zarn makes it."""
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o600)


def set_aside(journal_path, target, reason=".+"):
    return re.compile(f"ZARN: journal {journal_path} for {target} set aside as "
                      f"{journal_path}.set-aside: {reason}\n".encode())


def append(path, text):
    with open(path, "a") as f:
        f.write(text)


class RecoveryTest(SafetyFixture):
    def test_an_edit_after_a_crash_survives_the_next_save(self):
        journals = 0
        for at in itertools.count(1):
            with self.subTest(at=at):
                table = self.held(self.bound, size="1m")
                cut = self.injected(ZARN_CRASH_AT=at)
                left = os.path.exists(JOURNAL)
                journals += left
                append("/etc/hosts", ADMIN)
                r = self.set_ruvo()
                self.assertEqual((r.out, r.status), (DONE, 0))
                after = read(table)
                self.assertIn(ADMIN, after)
                self.assertTrue(after.endswith(ENTRY))
                self.assertEqual(bool(set_aside(JOURNAL, "/etc/hosts").fullmatch(r.err)), left)
                self.assertEqual(pstore(), ["hosts.zarn-journal.set-aside"] * left + ["ruvo_config"])
            if cut.status != 99:
                break
        self.assertGreater(journals, 3)

    def test_a_crash_torn_table_is_completed_by_the_boot_time_push(self):
        torn = 0
        for at in itertools.count(1):
            with self.subTest(at=at):
                table = self.held(self.bound, size="1m")
                cut = self.injected(ZARN_CRASH_AT=at)
                if read(table) not in (OLD_HOSTS, harness.HOSTS + ENTRY):
                    torn += 1
                    r = self.zarn("--configRuvo")
                    self.assertEqual((r.out, r.status, read(table)), (b"", 0, harness.HOSTS + ENTRY))
                    self.assertEqual(r.err, f"ZARN: completed the interrupted save of /etc/hosts "
                                            f"from {JOURNAL}\n".encode())
                    self.assertEqual(self.driver()[-2:], [("SET_PLAT", "192.168.1.1"),
                                                          ("SET_SP", "169.254.7.2")])
                    self.assertEqual(pstore(), ["ruvo_config"])
            if cut.status != 99:
                break
        self.assertGreater(torn, 0)

    def test_a_journal_of_ours_is_completed_once_and_said_so(self):
        table = self.held(self.bound)
        leave(JOURNAL, journal("/etc/hosts", OLD_HOSTS, "1.2.3.4 written\n"))
        for err in (f"ZARN: completed the interrupted save of /etc/hosts from {JOURNAL}\n", ""):
            r = self.zarn("--configRuvo")
            self.assertEqual((r.out, r.err.decode(), r.status), (b"", err, 0))
            self.assertEqual((read(table), pstore()), ("1.2.3.4 written\n", ["ruvo_config"]))

    def test_a_journal_that_cannot_be_applied_stays_and_the_table_is_not_saved(self):
        self.held(self.bound)
        subprocess.run(["mount", "-o", "remount,ro,bind", "/etc/hosts"], check=True)
        leave(JOURNAL, journal("/etc/hosts", OLD_HOSTS, "1.2.3.4 written\n"))
        r = self.set_ruvo()
        self.assertEqual((r.out, r.err), (NO_HOSTS + DONE, f"ZARN: unable to complete the interrupted "
                                          f"save of /etc/hosts from {JOURNAL}\n".encode()))
        self.assertEqual((read("/etc/hosts"), pstore()), (OLD_HOSTS, ["hosts.zarn-journal", "ruvo_config"]))

    def test_journals_zarn_did_not_write_are_set_aside(self):
        def crafted(target, inode=None):
            return lambda: leave(JOURNAL, journal(target, OLD_HOSTS, "1.1.1.1 injected\n", inode))

        def replaced():  # an editor replaced the table by a rename, with the same lines
            crafted("/etc/hosts")()
            os.replace(write("/etc/hosts.edited", OLD_HOSTS), "/etc/hosts")

        def sparse():
            write(JOURNAL, "0\n")
            os.truncate(JOURNAL, 5 << 20)

        def by_nobody():  # in a /pstore anyone may write, as another user left it
            os.chmod("/pstore", 0o1777)
            crafted("/etc/hosts")()
            os.chown(JOURNAL, NOBODY, NOBODY)

        victim = self.path("victim")
        shapes = [  # name, how the journal is left -> the reason given
            ("empty", lambda: write(JOURNAL, ""), "not a zarn journal"),
            ("abc", lambda: write(JOURNAL, "abc"), "not a zarn journal"),
            ("negative", lambda: write(JOURNAL, "-3\n"), "not a zarn journal"),
            ("signed", lambda: write(JOURNAL, "+0\n"), "not a zarn journal"),
            ("loose", lambda: write(JOURNAL, "0junk\n1.1.1.1 injected\n"), "not a zarn journal"),
            ("sparse", sparse, "too large"),
            ("cut short", lambda: (crafted("/etc/hosts")(), os.truncate(JOURNAL, 200)), "damaged"),
            ("link", lambda: os.symlink(write(victim, "untouched\n"), JOURNAL), "not a regular file"),
            ("directory", lambda: os.mkdir(JOURNAL), "not a regular file"),
            ("fifo", lambda: os.mkfifo(JOURNAL), "not a regular file"),
            ("another user's", by_nobody, "not owned by the user running zarn"),
            ("linked twice", lambda: (crafted("/etc/hosts")(), os.link(JOURNAL, JOURNAL + ".2")),
             "more than one link"),
            ("another file's", crafted(SETTINGS, inode=0), "written for another file"),
            ("replaced table", replaced, "the file was replaced since"),
            ("edited table", lambda: (crafted("/etc/hosts")(), append("/etc/hosts", ADMIN)),
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
                self.assertEqual((r.out, r.status), (DONE, 0))
                self.assertRegex(r.err, set_aside(path, target, reason))
                self.assertEqual(read(SETTINGS), SAVED)
                hosts = read("/etc/hosts")
                self.assertNotIn("injected", hosts)
                self.assertTrue(hosts.endswith(ENTRY))
                self.assertEqual(ADMIN in hosts, name == "edited table")
                self.assertIn(os.path.basename(path) + ".set-aside", pstore())
                remove(JOURNAL + ".2")
                self.assertEqual(read(victim) if name == "link" else None,
                                 "untouched\n" if name == "link" else None)
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
        self.assertEqual((r.out, r.status), (DONE, 0))
        self.assertLess(r.elapsed, 2)

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
                r = self.injected(**faults)
                self.assertEqual((r.out, read(table), read(SETTINGS)),
                                 (NO_HOSTS + DONE, OLD_HOSTS, SAVED))
                self.assertEqual((pstore(), self.ran()), (["ruvo_config"], []))

    def test_a_bind_mounted_settings_file_ends_owned_by_root(self):
        settings = write(os.path.join(self.scratch_mount(), "ruvo_config"), OLD_SETTINGS)
        os.chown(settings, 1234, 1234)
        os.chmod(settings, 0o600)
        subprocess.run(["mount", "--bind", settings, SETTINGS], check=True)
        self.addCleanup(subprocess.run, ["umount", SETTINGS])
        self.assertEqual(self.set_ruvo().out, DONE)
        st = os.stat(settings)
        self.assertEqual((read(settings), st.st_uid, st.st_gid, st.st_mode & 0o7777),
                         (SAVED, 0, 0, 0o600))
        self.assertEqual(pstore(), ["ruvo_config"])
