"""The save under trouble: tables of every shape and place, full, read-only and failing
disks, crashes, concurrent saves, signals, and runs that must end in bounded time."""
import errno
import fcntl
import itertools
import os
import pty
import re
import signal
import subprocess
import termios
import time

import harness
from harness import (ALIAS, CANT_SAVE, DONE, DRIVER_NODE, HOSTS, NO_HOSTS, SETTINGS, STARTUP_BAD,
                     STRICT_BAD, TIMEOUT, pstore, read, remove, settings_text, wait_until, write)
from test_save import OLD_HOSTS, OLD_SETTINGS, SaveFixture

NEW, OLD_SP = "192.168.1.1", "169.254.7.2"
SAVED = settings_text(sp=OLD_SP, platform=NEW, port=7000)
ENTRY = f"{NEW}  {ALIAS}\n"
JOURNAL = "/pstore/hosts.zarn-journal"
ADMIN = "10.9.9.9\tadmin-edit\n"
COMPLETED = f"ZARN: completed the interrupted save of /etc/hosts from {JOURNAL}\n".encode()


def aside(path, target, reason):
    return f"ZARN: journal {path} for {target} set aside as {path}.set-aside: {reason}\n".encode()


CHANGED = aside(JOURNAL, "/etc/hosts", "the file was changed since")
PAGE = HOSTS + "#" * (4094 - len(HOSTS)) + "\n"
BIG = HOSTS + "#" * 9000 + "\n"  # beyond what a file system without fallocate lets the C library reserve
NO_FALLOCATE = {"ZARN_FAIL": "fallocate", "ZARN_ERRNO": str(errno.EOPNOTSUPP)}


def mount(*args):
    subprocess.run(["mount", *args], check=True)


def append(path, text):
    with open(path, "a") as f:
        f.write(text)


class SafetyFixture(SaveFixture):
    """A save of new addresses over old files, which tests place and fail as they need."""

    def setUp(self):
        super().setUp()
        self.addCleanup(self.restore_etc)
        self.fresh(OLD_SETTINGS)
        self.scripts()

    def restore_etc(self):
        for mount_point in ("/etc/hosts", "/etc"):
            while subprocess.run(["umount", mount_point], stderr=subprocess.DEVNULL).returncode == 0:
                pass
        remove("/etc/hosts")
        write("/etc/hosts", OLD_HOSTS)

    def scratch_mount(self, size="64k"):
        """A tiny tmpfs of the test's own, unmounted afterwards."""
        path = os.path.join(self.dir, f"tmpfs{len(os.listdir(self.dir))}")
        os.mkdir(path)
        mount("-t", "tmpfs", "-o", f"size={size}", "tmpfs", path)
        self.addCleanup(subprocess.run, ["umount", "-l", path])
        return path

    def fill(self, directory):
        subprocess.run(["dd", "if=/dev/zero", f"of={directory}/filler"], stderr=subprocess.DEVNULL)

    def set_ruvo(self, *args, wait=5, **kwargs):
        return self.zarn("-J", "-a", NEW, "-I", "127.0.0.1", "-w", wait, *args, **kwargs)

    def injected(self, trace=False, **env):
        return self.set_ruvo(*(["--trace"] if trace else []), preload=(harness.CRASH_LIB,),
                             env={k: str(v) for k, v in env.items()})

    # How the table can be held: each puts `table` (the file in a scratch file system) in place.
    def bound(self, table):
        mount("--bind", table, "/etc/hosts")

    def bound_in_read_only_etc(self, table):
        mount("--bind", "/etc", "/etc")
        mount("-o", "remount,ro,bind", "/etc")
        self.bound(table)

    def linked(self, table):
        os.remove("/etc/hosts")
        os.symlink(table, "/etc/hosts")

    def held(self, place, size="16k"):
        """A fresh start with the old table in a scratch file system, held as `place` says."""
        self.restore_etc()
        self.fresh(OLD_SETTINGS)
        table = write(os.path.join(self.scratch_mount(size), "hosts"), OLD_HOSTS)
        place(table)
        return table


class SafetyTest(SafetyFixture):
    def test_lines_kept_as_sed_would_keep_them(self):
        cases = [  # old table -> new table
            ("b", "b\n" + ENTRY),  # a last line without a newline gets one
            (f"a\n1.1.1.1 {ALIAS}", "a\n" + ENTRY),  # a dropped last line needs none
            ("a\n2.2.2.2 platformXruvo-local b\nc\n", "a\nc\n" + ENTRY),  # '.' is any character
            ("a\nplatform.ruvo.loca\n", "a\nplatform.ruvo.loca\n" + ENTRY),
            ("xp\nlatform.ruvo.local\n", "xp\nlatform.ruvo.local\n" + ENTRY),  # lines apart
            ("", ENTRY),
            (None, ENTRY),  # no table yet
        ]
        for old, new in cases:
            with self.subTest(old=old):
                self.fresh(OLD_SETTINGS)
                remove("/etc/hosts") if old is None else write("/etc/hosts", old)
                r = self.set_ruvo()
                self.assertEqual((r.out, r.status, read("/etc/hosts")), (DONE, 0, new))

    def test_twenty_links_are_followed_to_a_table_that_keeps_its_owner_and_mode(self):
        for links, out, table in ((20, DONE, HOSTS + ENTRY), (21, NO_HOSTS + DONE, OLD_HOSTS)):
            with self.subTest(links=links):
                self.restore_etc()
                chain = [f"{self.dir}/{links}-{n}" for n in range(links)]  # the table last
                os.chown(write(chain[-1], OLD_HOSTS), 1234, 1234)
                os.chmod(chain[-1], 0o640)
                os.remove("/etc/hosts")
                for n, (link, to) in enumerate(zip(["/etc/hosts"] + chain[:-1], chain)):
                    os.symlink(os.path.relpath(to, os.path.dirname(link)) if n % 2 else to, link)
                self.assertEqual((self.set_ruvo().out, read(chain[-1])), (out, table))
                st = os.stat(chain[-1])
                self.assertEqual((st.st_uid, st.st_gid, st.st_mode & 0o7777, os.path.islink(chain[-2]),
                                  [n for n in os.listdir(self.dir) if "zarn" in n]), (1234, 1234, 0o640, True, []))

    def test_a_table_whose_temporary_name_would_not_fit_is_left_with_its_neighbours(self):
        deep = self.dir
        while len(deep) < 4090 - 256:
            deep += "/" + "d" * 250
        os.makedirs(deep)
        table = write(deep + "/" + "t" * (4086 - len(deep)), OLD_HOSTS)  # its temporary's name: 4096 bytes
        cut = write((table + ".zarn-new")[:4095], "neighbour\n")  # as long as a path can be
        os.remove("/etc/hosts")
        os.symlink(table, "/etc/hosts")
        self.assertEqual((self.set_ruvo().out, read(table), read(cut)),
                         (NO_HOSTS + DONE, OLD_HOSTS, "neighbour\n"))

    def test_a_table_that_cannot_be_renamed_over_is_rewritten_in_place_or_left_as_it_was(self):
        read_only = lambda table: (self.bound(table), mount("-o", "remount,ro,bind", "/etc/hosts"))
        full = lambda table: (self.linked(table), self.fill(os.path.dirname(table)))
        # The new table needs a page more than this one.
        bound_full = lambda table: (self.bound(write(table, PAGE)), self.fill(os.path.dirname(table)))
        busy = "by rename: Device or resource busy"
        in_place = "in place, journal /pstore/hosts.zarn-journal"
        cases = [  # how the table is held, injected faults -> output, table, scripts run, beside it,
            # and how the trace says the table was saved
            ("bound", self.bound, {}, DONE, HOSTS + ENTRY, 2, [], [busy, in_place]),
            ("read-only /etc", self.bound_in_read_only_etc, {}, DONE, HOSTS + ENTRY, 2, [], [in_place]),
            ("big", lambda table: self.bound(write(table, BIG)), NO_FALLOCATE, DONE, BIG + ENTRY, 2, [],
             [busy, in_place]),
            # A table of the new one's length is neither reserved for nor cut.
            *[("same length", lambda table: self.bound(write(table, HOSTS + ENTRY.replace("1.1 ", "1.9 "))),
               {"ZARN_FAIL": name}, DONE, HOSTS + ENTRY, 2, [], [busy, in_place])
              for name in ("fallocate", "ftruncate")],
            ("read-only", read_only, {}, NO_HOSTS + DONE, OLD_HOSTS, 0, [], [busy]),
            ("full", full, {}, NO_HOSTS + DONE, OLD_HOSTS, 0, ["filler"], []),
            ("bound full", bound_full, {}, NO_HOSTS + DONE, PAGE, 0, ["filler"],
             [busy, in_place + ": failed"]),
            ("bound full", bound_full, NO_FALLOCATE, NO_HOSTS + DONE, PAGE, 0, ["filler"],  # put back
             [busy, in_place + ": failed"]),
        ]
        for name, place, faults, out, table_after, ran, beside, how in cases:
            with self.subTest(name, faults=faults):
                table = self.held(place)
                r = self.injected(**faults, trace=True)
                self.assertEqual((r.out, read(table), read(SETTINGS)), (out, table_after, SAVED))
                self.assertEqual(len(self.ran()), ran)
                self.assertEqual(sorted(os.listdir(os.path.dirname(table))), beside + ["hosts"])
                self.assertEqual(pstore(), ["ruvo_config"])
                self.assertEqual(re.findall(r"trace: save /etc/hosts: (.*)", r.err.decode()), how)

    def test_a_save_cut_short_is_finished_and_a_failed_call_changes_nothing(self):
        """After a crash at any call the next save finishes the table. A bound table is edited
        before it, and the edit survives: a journal that no longer fits is set aside, and one left
        over a torn table has been completed by the boot-time push."""
        new_table = HOSTS + ENTRY
        torn = journals = 0
        for place in (self.linked, self.bound, self.bound_in_read_only_etc):
            edited = place == self.bound
            for at in itertools.count(1):
                with self.subTest(place=place.__name__, at=at):
                    table = self.held(place, size="1m")
                    cut = self.injected(ZARN_CRASH_AT=at)
                    self.assertIn(read(SETTINGS), (OLD_SETTINGS, SAVED))
                    if place == self.linked:  # replaced by a rename: never torn
                        self.assertIn(read(table), (OLD_HOSTS, new_table))
                    if edited and read(table) not in (OLD_HOSTS, new_table):
                        torn += 1
                        r = self.zarn("--configRuvo")
                        self.assertEqual((r.out, r.err, r.status, read(table), self.driver()[-2:]), (
                            b"", COMPLETED, 0, new_table, [("SET_PLAT", NEW), ("SET_SP", OLD_SP)]))
                    left = edited and os.path.exists(JOURNAL)
                    journals += left
                    if edited:
                        append("/etc/hosts", ADMIN)
                    r = self.set_ruvo()
                    self.assertEqual((r.out, read(table)), (DONE, HOSTS + ADMIN * edited + ENTRY))
                    if edited:
                        self.assertEqual(r.err, CHANGED if left else b"")
                    self.assertEqual((pstore(), os.listdir(os.path.dirname(table))),
                                     (["hosts.zarn-journal.set-aside"] * left + ["ruvo_config"], ["hosts"]))

                    table = self.held(place, size="1m")
                    r = self.injected(ZARN_FAIL_AT=at)
                    settings, hosts = read(SETTINGS), read(table)
                    self.assertIn(settings, (OLD_SETTINGS, SAVED))
                    self.assertEqual(CANT_SAVE in r.out, settings == OLD_SETTINGS)
                    self.assertEqual(CANT_SAVE in r.out or NO_HOSTS in r.out, hosts == OLD_HOSTS)
                    self.assertIn(hosts, (OLD_HOSTS, new_table))
                    self.assertEqual(pstore(), ["ruvo_config"])
                if cut.status != 99:
                    self.assertGreater(at, 30)
                    break
        self.assertGreater(torn, 0)
        self.assertGreater(journals, 3)

    def test_stale_temporaries_and_a_linked_settings_file(self):
        victim = write(self.path("victim"), "untouched\n")
        real = os.path.join(self.dir, "settings", "ruvo_config")
        os.mkdir(os.path.dirname(real))
        os.chmod(write(real, OLD_SETTINGS), 0o600)
        os.remove(SETTINGS)
        os.symlink(real, SETTINGS)
        os.mkdir("/etc/hosts.zarn-new")
        os.symlink(victim, real + ".zarn-new")
        self.assertEqual((self.set_ruvo().out, read(real), read("/etc/hosts"), read(victim)),
                         (DONE, SAVED, HOSTS + ENTRY, "untouched\n"))
        self.assertEqual((os.readlink(SETTINGS), os.stat(real).st_mode & 0o777, pstore(),
                          os.listdir(os.path.dirname(real)), os.path.exists("/etc/hosts.zarn-new")),
                         (real, 0o600, ["ruvo_config"], ["ruvo_config"], False))

    def test_the_timer_waits_from_the_first_commit_to_the_second(self):
        with self.agent(listen="127.0.0.1", port=7000):  # a made connection leaves the timer armed
            r = self.set_ruvo(wait=2, preload=(harness.CRASH_LIB,), env={"ZARN_SLOW": "rename"})
        self.assertEqual((r.out, r.status, read(SETTINGS), read("/etc/hosts"), self.ran()),
                         (TIMEOUT, 2, SAVED, HOSTS + ENTRY, []))

    def test_the_working_directory_plays_no_part(self):
        self.dir = self.scratch_mount("16k")
        victim = write(os.path.join(self.scratch_mount(), "victim"), "untouched\n")
        os.symlink(victim, os.path.join(self.dir, ".hosts"))
        self.fill(self.dir)
        self.assertEqual(self.set_ruvo().out, DONE)
        self.assertEqual((read("/etc/hosts"), read(victim)), (HOSTS + ENTRY, "untouched\n"))

    def test_moves_at_the_same_time_leave_the_driver_and_the_files_agreeing(self):
        for round_ in range(10):
            self.fresh(OLD_SETTINGS)
            runs = [self.spawn("-J", "-a", address, "-I", "127.0.0.1", stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL) for address in ("10.1.1.1", "10.2.2.2")]
            with self.subTest(round=round_):
                self.assertEqual([run.communicate(timeout=10)[0] for run in runs], [DONE, DONE])
                platform = read(SETTINGS).split()[4]
                self.assertEqual(read("/etc/hosts"), HOSTS + f"{platform}  {ALIAS}\n")
                moves = [self.driver()[i:i + 3] for i in (0, 3)]  # each move's three requests
                self.assertEqual(([[name for name, _ in move] for move in moves], moves[1][1][1]),
                                 ([["SET_PLAT", "SET_PLAT", "SET_SP"]] * 2, platform))

    def test_scripts_read_the_terminal_zarn_runs_on_and_run_with_the_system_path(self):
        answers = self.path("answers")
        self.scripts(before=f'read answer; echo "$answer $PATH" >> {answers}\n')
        terminal, zarn_side = pty.openpty()
        self.addCleanup(os.close, terminal)
        run = self.spawn("-J", "-a", NEW, "-I", "127.0.0.1", "-w", "5", env={"PATH": f"{self.dir}:/usr/bin"},
                         stdin=zarn_side, stdout=zarn_side, stderr=zarn_side,
                         preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(zarn_side)
        os.write(terminal, b"one\ntwo\n")
        path = "/usr/sbin:/usr/bin:/sbin:/bin"
        self.assertEqual((run.wait(10), read(answers)), (0, f"one {path}\ntwo {path}\n"))

    def test_scripts_run_to_their_end_whatever_ends_zarn(self):
        started = self.path("started")
        self.scripts(before=f"touch {started}; sleep 1\n")
        cases = [(None, 2), (signal.SIGTERM, -signal.SIGTERM), (signal.SIGHUP, -signal.SIGHUP),
                 (signal.SIGINT, 0)]  # the timer; signals sent to zarn alone
        with self.agent(listen="127.0.0.1", port=7000):
            for ending, status in cases:
                with self.subTest(ending=ending):
                    self.fresh(OLD_SETTINGS)
                    remove(started)
                    run = self.spawn("-J", "-a", NEW, "-I", "127.0.0.1", "-w", "1" if ending is None else "0",
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    wait_until(lambda: os.path.exists(started), 10)
                    if ending:
                        run.send_signal(ending)
                    self.assertEqual((run.wait(5), not status or len(self.ran()) < 2), (status, True))
                    self.assertTrue(wait_until(lambda: len(self.ran()) == 2, 5))

    def test_a_fifo_as_settings_file_reads_as_malformed_and_as_table_is_not_saved(self):
        for make in (os.mkfifo, lambda path: os.symlink("/dev/zero", path)):  # a device is never read
            remove(SETTINGS)
            make(SETTINGS)
            self.assertEqual([self.zarn(*args, timeout=5)[::2] for args in (["-?"], ["-O"])],
                             [(STARTUP_BAD, 0), (STARTUP_BAD + STRICT_BAD, 185)])  # output, status
        remove(SETTINGS)
        self.fresh(OLD_SETTINGS)
        os.remove("/etc/hosts")
        os.mkfifo("/etc/hosts")
        self.addCleanup(os.remove, "/etc/hosts")  # before a write to it would block
        self.assertEqual((self.set_ruvo().out, read(SETTINGS), self.ran()), (NO_HOSTS + DONE, SAVED, []))

    def test_the_timer_ends_a_run_whose_output_nobody_reads(self):
        reader, writer = os.pipe()
        self.addCleanup(os.close, reader)
        os.write(writer, b"x" * fcntl.fcntl(writer, fcntl.F_GETPIPE_SZ))  # full
        with self.agent("--reply", "partial", "--no-etx", port=7000):
            start = time.monotonic()
            run = self.spawn("-T", "-I", harness.PLATFORM, "-w", "1", stdout=writer)
            os.close(writer)
            self.assertEqual((run.wait(10), time.monotonic() - start < 3.5), (2, True))

    def test_closed_standard_streams_take_no_file_of_the_program(self):
        """A stream the caller closed is /dev/null, for zarn's messages and for the scripts."""
        streams = self.path("streams")
        self.scripts(before=f"readlink /proc/$$/fd/0 /proc/$$/fd/2 > {streams}\n")
        self.standin = {"RUVO_STANDIN_FAIL": "SET_SP_IP_IOCTL"}
        for closed in ((2,), (0, 2)):
            with self.subTest(closed=closed):
                self.fresh(OLD_SETTINGS)
                self.spawn("-J", "-a", NEW, "-I", "127.0.0.1", "-w", "2", stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, preexec_fn=lambda: [os.close(fd) for fd in closed]).wait(10)
                self.assertEqual((os.path.getsize(DRIVER_NODE), read(streams)), (0, "/dev/null\n" * 2))
