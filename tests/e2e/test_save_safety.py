"""The save under trouble: hosts tables of every shape and place, full and
read-only file systems, a crash at every file operation, saves at the same
time, signals during the scripts, and runs that must end in bounded time."""
import contextlib
import os
import signal
import subprocess
import time

import harness
from harness import (ALIAS, DONE, DRIVER_NODE, HOSTS, NO_HOSTS, SETTINGS, STARTUP_BAD, STRICT_BAD,
                     read, settings_text)
from test_save import OLD_HOSTS, OLD_SETTINGS, SaveTest

NEW = "192.168.1.1"
SAVED = settings_text(sp="169.254.7.2", platform=NEW, port=7000)
ENTRY = f"{NEW}  {ALIAS}\n"


def mount(*args):
    subprocess.run(["mount", *args], check=True)


def mounted(path):
    with open("/proc/self/mounts") as f:
        return any(line.split()[1] == path for line in f)


def gone(pid):
    """True once `pid` has ended (a zombie counts as ended)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


class SafetyTest(SaveTest):
    def setUp(self):
        super().setUp()
        self.addCleanup(self.restore_etc)
        self.fresh(OLD_SETTINGS)
        self.scripts()

    def restore_etc(self):
        while mounted("/etc/hosts"):
            subprocess.run(["umount", "/etc/hosts"], check=True)
        for path in ("/etc/hosts", "/etc/hosts.real"):
            if os.path.islink(path):
                os.remove(path)

    def scratch_mount(self, size="64k"):
        """A tiny tmpfs of the test's own, unmounted afterwards."""
        path = os.path.join(self.dir, f"tmpfs{len(os.listdir(self.dir))}")
        os.mkdir(path)
        mount("-t", "tmpfs", "-o", f"size={size}", "tmpfs", path)
        self.addCleanup(subprocess.run, ["umount", "-l", path])
        return path

    def fill(self, directory):
        with contextlib.suppress(OSError), open(os.path.join(directory, "filler"), "wb") as f:
            while True:
                f.write(b"x" * 4096)
                f.flush()

    def set_ruvo(self, **kwargs):
        return self.zarn("-J", "-a", NEW, "-I", "127.0.0.1", "-w", "5", **kwargs)


class HostsTableTest(SafetyTest):
    def test_lines_kept_as_sed_would_keep_them(self):
        cases = [  # old table -> new table
            ("a\nb", "a\nb\n" + ENTRY),  # a last line without a newline gets one
            (f"a\n1.1.1.1 {ALIAS}", "a\n" + ENTRY),  # a dropped last line needs none
            ("a\n2.2.2.2 platformXruvo-local b\nc\n", "a\nc\n" + ENTRY),  # '.' is any character
            ("a\nplatform.ruvo.loca\n", "a\nplatform.ruvo.loca\n" + ENTRY),
            ("", ENTRY),
            (None, ENTRY),  # no table yet
        ]
        for old, new in cases:
            with self.subTest(old=old):
                self.fresh(OLD_SETTINGS)
                if old is None:
                    os.remove("/etc/hosts")
                else:
                    with open("/etc/hosts", "w") as f:
                        f.write(old)
                r = self.set_ruvo()
                self.assertEqual((r.out, r.status, read("/etc/hosts")), (DONE, 0, new))

    def test_owner_mode_and_a_symbolic_link_are_kept(self):
        os.rename("/etc/hosts", "/etc/hosts.target")
        self.addCleanup(os.rename, "/etc/hosts.target", "/etc/hosts")
        os.symlink("hosts.real", "/etc/hosts")
        os.symlink("/etc/hosts.target", "/etc/hosts.real")
        os.chown("/etc/hosts.target", 1234, 1234)
        os.chmod("/etc/hosts.target", 0o640)
        r = self.set_ruvo()
        self.assertEqual((r.out, r.status), (DONE, 0))
        self.assertEqual(os.readlink("/etc/hosts"), "hosts.real")
        self.assertEqual(read("/etc/hosts.target"), HOSTS + ENTRY)
        st = os.stat("/etc/hosts.target")
        self.assertEqual((st.st_uid, st.st_gid, st.st_mode & 0o7777), (1234, 1234, 0o640))
        self.assertEqual([n for n in os.listdir("/etc") if "zarn" in n], [])

    def test_a_bind_mounted_table_is_rewritten_in_place(self):
        table = os.path.join(self.scratch_mount(), "hosts")
        with open(table, "w") as f:
            f.write(OLD_HOSTS)
        mount("--bind", table, "/etc/hosts")
        r = self.set_ruvo()
        self.assertEqual((r.out, r.status, read(table)), (DONE, 0, HOSTS + ENTRY))

    def test_a_table_that_cannot_be_replaced_stays_as_it_was(self):
        def read_only(table):
            mount("--bind", table, "/etc/hosts")
            mount("-o", "remount,ro,bind", "/etc/hosts")

        def full(table):
            os.remove("/etc/hosts")
            os.symlink(table, "/etc/hosts")
            self.fill(os.path.dirname(table))

        for make in (read_only, full):
            with self.subTest(make=make.__name__):
                self.fresh(OLD_SETTINGS)
                table = os.path.join(self.scratch_mount("16k"), "hosts")
                with open(table, "w") as f:
                    f.write(OLD_HOSTS)
                make(table)
                r = self.set_ruvo()
                self.assertEqual((r.out, r.status), (NO_HOSTS + DONE, 0))
                self.assertEqual((read(table), read(SETTINGS), self.ran()), (OLD_HOSTS, SAVED, []))
                self.assertEqual(sorted(os.listdir(os.path.dirname(table))),
                                 ["filler", "hosts"] if make is full else ["hosts"])
                self.restore_etc()
                with open("/etc/hosts", "w") as f:
                    f.write(OLD_HOSTS)

    def test_the_working_directory_plays_no_part(self):
        self.dir = self.scratch_mount("16k")
        victim = os.path.join(self.scratch_mount(), "victim")
        with open(victim, "w") as f:
            f.write("untouched\n")
        os.symlink(victim, os.path.join(self.dir, ".hosts"))
        self.fill(self.dir)
        r = self.set_ruvo()
        self.assertEqual((r.out, r.status, read("/etc/hosts")), (DONE, 0, HOSTS + ENTRY))
        self.assertEqual(read(victim), "untouched\n")


class CrashTest(SafetyTest):
    def test_a_crash_at_any_file_operation_leaves_each_file_old_or_new(self):
        crashes = 0
        for at in range(1, 300):
            self.fresh(OLD_SETTINGS)
            r = self.set_ruvo(preload=(harness.CRASH_LIB,), env={"ZARN_CRASH_AT": str(at)})
            with self.subTest(at=at):
                self.assertIn(read(SETTINGS), (OLD_SETTINGS, SAVED))
                self.assertIn(read("/etc/hosts"), (OLD_HOSTS, HOSTS + ENTRY))
            if r.status != 99:
                break
            crashes += 1
        self.assertEqual((r.out, r.status, read(SETTINGS)), (DONE, 0, SAVED))
        self.assertGreater(crashes, 10)
        self.assertLessEqual(set(os.listdir("/pstore")), {"ruvo_config", "ruvo_config.zarn-new"})

    def test_saves_at_the_same_time_take_turns(self):
        for round_ in range(20):
            self.fresh(OLD_SETTINGS)
            commands = [self.zarn_command("-J", "-a", address, "-I", "127.0.0.1")
                        for address in ("10.1.1.1", "10.2.2.2")]
            runs = [subprocess.Popen(cmd, env=env, cwd=self.dir, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL) for cmd, env in commands]
            outs = [run.communicate(timeout=10)[0] for run in runs]
            with self.subTest(round=round_):
                self.assertEqual(outs, [DONE, DONE])
                platform = read(SETTINGS).split()[4]
                self.assertEqual(read("/etc/hosts"), HOSTS + f"{platform}  {ALIAS}\n")


class BoundedRunTest(SafetyTest):
    def test_an_ending_signal_during_the_scripts_ends_them_too(self):
        pids = os.path.join(self.dir, "pids")
        self.scripts(before=f'sleep 30 & echo "$$ $!" > {pids}; wait\n')
        for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=number.name):
                self.fresh(OLD_SETTINGS)
                with contextlib.suppress(FileNotFoundError):
                    os.remove(pids)
                cmd, env = self.zarn_command("-J", "-a", NEW, "-I", "127.0.0.1", "-w", "0")
                run = subprocess.Popen(cmd, cwd=self.dir, env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
                deadline = time.monotonic() + 10
                while not read(pids) and time.monotonic() < deadline:
                    time.sleep(0.02)
                run.send_signal(number)
                self.assertEqual(run.wait(5), -number)
                started = read(pids).split()
                deadline = time.monotonic() + 2
                while not all(map(gone, started)) and time.monotonic() < deadline:
                    time.sleep(0.02)
                self.assertTrue(all(map(gone, started)), started)

    def test_scripts_run_with_the_system_path(self):
        path = os.path.join(self.dir, "path")
        self.scripts(before=f'echo "$PATH" > {path}\n')
        r = self.set_ruvo(env={"PATH": f"{self.dir}:/usr/bin"})
        self.assertEqual((r.out, read(path)), (DONE, "/usr/sbin:/usr/bin:/sbin:/bin\n"))

    def test_a_fifo_as_settings_file_reads_as_malformed(self):
        os.remove(SETTINGS)
        os.mkfifo(SETTINGS)
        cases = [(["-?"], STARTUP_BAD, 0), (["-O"], STARTUP_BAD + STRICT_BAD, 185)]
        for args, out, status in cases:
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
            cmd, env = self.zarn_command("-T", "-I", harness.PLATFORM, "-w", "1")
            start = time.monotonic()
            run = subprocess.run(cmd, cwd=self.dir, env=env, stdout=writer, timeout=10)
            os.close(writer)
            self.assertEqual(run.returncode, 2)
            self.assertLess(time.monotonic() - start, 3.5)

    def test_a_closed_standard_stream_takes_no_file_of_the_program(self):
        self.standin = {"RUVO_STANDIN_FAIL": "SET_PLAT_IP_IOCTL"}
        cmd, env = self.zarn_command("--configRuvo")
        subprocess.run(cmd, cwd=self.dir, env=env, timeout=10,
                       preexec_fn=lambda: [os.close(fd) for fd in (0, 2)])
        self.assertEqual(os.path.getsize(DRIVER_NODE), 0)
