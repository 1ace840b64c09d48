"""The save under trouble: tables of every shape and place, full, read-only and failing
disks, crashes, concurrent saves, signals, and runs that must end in bounded time."""
import contextlib
import os
import signal
import subprocess
import time
import unittest

import harness
from harness import (ALIAS, CANT_SAVE, DONE, DRIVER_NODE, HOSTS, NO_HOSTS, SETTINGS, STARTUP_BAD, STRICT_BAD,
                     read, remove, settings_text, wait_until, write)
from test_save import OLD_HOSTS, OLD_SETTINGS, SaveFixture

NEW = "192.168.1.1"
SAVED = settings_text(sp="169.254.7.2", platform=NEW, port=7000)
ENTRY = f"{NEW}  {ALIAS}\n"
PAGE = HOSTS + "#" * (4094 - len(HOSTS)) + "\n"


def mount(*args):
    subprocess.run(["mount", *args], check=True)


def gone(pid):
    """True once `pid` has ended (a zombie counts as ended)."""
    stat = read(f"/proc/{pid}/stat")
    return stat is None or stat.rsplit(")", 1)[1].split()[0] == "Z"


class SafetyTest(SaveFixture):
    def setUp(self):
        super().setUp()
        self.addCleanup(self.restore_etc)
        self.fresh(OLD_SETTINGS)
        self.scripts()

    def restore_etc(self):
        while subprocess.run(["umount", "/etc/hosts"], stderr=subprocess.DEVNULL).returncode == 0:
            pass
        if os.path.islink("/etc/hosts"):
            os.remove("/etc/hosts")
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

    def set_ruvo(self, **kwargs):
        return self.zarn("-J", "-a", NEW, "-I", "127.0.0.1", "-w", "5", **kwargs)

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
                for link, to in zip(["/etc/hosts"] + chain[:-1], chain):
                    os.symlink(os.path.relpath(to, os.path.dirname(link)), link)
                self.assertEqual((self.set_ruvo().out, read(chain[-1])), (out, table))
                st = os.stat(chain[-1])
                self.assertEqual((st.st_uid, st.st_gid, st.st_mode & 0o7777, os.path.islink(chain[-2])),
                                 (1234, 1234, 0o640, True))
                self.assertEqual([n for n in os.listdir(self.dir) if "zarn" in n], [])

    def test_a_table_whose_temporary_name_would_not_fit_is_left_with_its_neighbours(self):
        deep = self.dir
        while len(deep) < 4090 - 256:
            deep += "/" + "d" * 250
        os.makedirs(deep)
        table = write(deep + "/" + "t" * (4089 - len(deep)), OLD_HOSTS)
        cut = write((table + ".zarn-new")[:4095], "neighbour\n")  # as long as a path can be
        os.remove("/etc/hosts")
        os.symlink(table, "/etc/hosts")
        self.assertEqual((self.set_ruvo().out, read(table), read(cut)),
                         (NO_HOSTS + DONE, OLD_HOSTS, "neighbour\n"))

    def test_a_bind_mounted_table_is_rewritten_in_place_or_left_as_it_was(self):
        def bound(table):
            mount("--bind", table, "/etc/hosts")

        def read_only(table):
            bound(table)
            mount("-o", "remount,ro,bind", "/etc/hosts")

        def full(table):
            os.remove("/etc/hosts")
            os.symlink(table, "/etc/hosts")
            self.fill(os.path.dirname(table))

        def bound_full(table):
            write(table, PAGE)  # the new table needs a page more than the old one
            bound(table)
            self.fill(os.path.dirname(table))

        cases = [  # how the table is held -> output, table, scripts run, files beside it
            (bound, DONE, HOSTS + ENTRY, 2, []),
            (read_only, NO_HOSTS + DONE, OLD_HOSTS, 0, []),
            (full, NO_HOSTS + DONE, OLD_HOSTS, 0, ["filler"]),
            (bound_full, NO_HOSTS + DONE, PAGE, 0, ["filler"]),
        ]
        for place, out, table_after, ran, beside in cases:
            with self.subTest(place=place.__name__):
                self.restore_etc()
                self.fresh(OLD_SETTINGS)
                table = os.path.join(self.scratch_mount("16k"), "hosts")
                write(table, OLD_HOSTS)
                place(table)
                r = self.set_ruvo()
                self.assertEqual((r.out, read(table), read(SETTINGS)), (out, table_after, SAVED))
                self.assertEqual(len(self.ran()), ran)
                self.assertEqual(sorted(os.listdir(os.path.dirname(table))), beside + ["hosts"])

    def test_a_failing_disk_leaves_both_files_as_they_were(self):
        for call in ("fsync", "rename", "close"):
            with self.subTest(call=call):
                self.fresh(OLD_SETTINGS)
                r = self.set_ruvo(preload=(harness.CRASH_LIB,), env={"ZARN_FAIL": call})
                self.assertEqual((r.out, read(SETTINGS), read("/etc/hosts"), self.ran()),
                                 (CANT_SAVE + DONE, OLD_SETTINGS, OLD_HOSTS, []))

    def test_the_working_directory_plays_no_part(self):
        self.dir = self.scratch_mount("16k")
        victim = os.path.join(self.scratch_mount(), "victim")
        write(victim, "untouched\n")
        os.symlink(victim, os.path.join(self.dir, ".hosts"))
        self.fill(self.dir)
        self.assertEqual(self.set_ruvo().out, DONE)
        self.assertEqual((read("/etc/hosts"), read(victim)), (HOSTS + ENTRY, "untouched\n"))

    def test_a_crash_at_any_file_operation_leaves_each_file_old_or_new(self):
        for at in range(1, 300):
            self.fresh(OLD_SETTINGS)
            r = self.set_ruvo(preload=(harness.CRASH_LIB,), env={"ZARN_CRASH_AT": str(at)})
            with self.subTest(at=at):
                self.assertIn(read(SETTINGS), (OLD_SETTINGS, SAVED))
                self.assertIn(read("/etc/hosts"), (OLD_HOSTS, HOSTS + ENTRY))
                self.assertLessEqual(set(os.listdir("/pstore")), {"ruvo_config", "ruvo_config.zarn-new"})
            if r.status != 99:
                break
        self.assertEqual((r.out, r.status, read(SETTINGS)), (DONE, 0, SAVED))
        self.assertGreater(at, 10)

    def test_saves_at_the_same_time_take_turns(self):
        for round_ in range(20):
            self.fresh(OLD_SETTINGS)
            runs = [self.spawn("-J", "-a", address, "-I", "127.0.0.1", stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL) for address in ("10.1.1.1", "10.2.2.2")]
            with self.subTest(round=round_):
                self.assertEqual([run.communicate(timeout=10)[0] for run in runs], [DONE, DONE])
                platform = read(SETTINGS).split()[4]
                self.assertEqual(read("/etc/hosts"), HOSTS + f"{platform}  {ALIAS}\n")

    def test_an_ending_signal_during_the_scripts_ends_them_too(self):
        pids = os.path.join(self.dir, "pids")
        self.scripts(before=f'sleep 30 & echo "$$ $!" > {pids}; wait\n')
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=number.name):
                self.fresh(OLD_SETTINGS)
                remove(pids)
                run = self.spawn("-J", "-a", NEW, "-I", "127.0.0.1", "-w", "0",
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                wait_until(lambda: read(pids), 10)
                run.send_signal(number)
                self.assertEqual(run.wait(5), -number)
                started = read(pids).split()
                self.assertTrue(wait_until(lambda: all(map(gone, started)), 2), started)

    @unittest.skipIf(harness.EMULATOR, "qemu-user shows the program no disposition it inherited")
    def test_an_interrupt_the_caller_ignored_stays_ignored(self):
        started = os.path.join(self.dir, "started")
        self.scripts(before=f"touch {started}; sleep 1\n")
        run = self.spawn("-J", "-a", NEW, "-I", "127.0.0.1", stdout=subprocess.PIPE,
                         preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN))
        wait_until(lambda: os.path.exists(started), 10)
        run.send_signal(signal.SIGINT)
        self.assertEqual((run.communicate(timeout=10)[0], run.returncode), (DONE, 0))

    def test_scripts_run_with_the_system_path(self):
        path = os.path.join(self.dir, "path")
        self.scripts(before=f'echo "$PATH" > {path}\n')
        r = self.set_ruvo(env={"PATH": f"{self.dir}:/usr/bin"})
        self.assertEqual((r.out, read(path)), (DONE, "/usr/sbin:/usr/bin:/sbin:/bin\n"))

    def test_a_fifo_as_settings_file_reads_as_malformed(self):
        os.remove(SETTINGS)
        os.mkfifo(SETTINGS)
        for args, out, status in [(["-?"], STARTUP_BAD, 0), (["-O"], STARTUP_BAD + STRICT_BAD, 185)]:
            with self.subTest(args=args):
                r = self.zarn(*args, timeout=5)
                self.assertEqual((r.out, r.status), (out, status))

    def test_the_timer_ends_a_run_whose_output_nobody_reads(self):
        reader, writer = os.pipe()
        self.addCleanup(os.close, reader)
        os.set_blocking(writer, False)
        with contextlib.suppress(BlockingIOError):
            while True:
                os.write(writer, b"x" * 4096)
        os.set_blocking(writer, True)
        with self.agent("--reply", "partial", "--no-etx", port=7000):
            start = time.monotonic()
            run = self.spawn("-T", "-I", harness.PLATFORM, "-w", "1", stdout=writer)
            os.close(writer)
            self.assertEqual(run.wait(10), 2)
            self.assertLess(time.monotonic() - start, 3.5)

    def test_closed_standard_streams_take_no_file_of_the_program(self):
        self.standin = {"RUVO_STANDIN_FAIL": "SET_PLAT_IP_IOCTL"}
        for closed in ((2,), (0, 2)):
            with self.subTest(closed=closed):
                self.spawn("--configRuvo", preexec_fn=lambda: [os.close(fd) for fd in closed]).wait(10)
                self.assertEqual(os.path.getsize(DRIVER_NODE), 0)
