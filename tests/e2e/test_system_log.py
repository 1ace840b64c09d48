"""The system log: one line for each change zarn makes to the link, none for a reading, and a
missing or stuck log socket changes nothing that zarn prints."""
import contextlib
import os
import re
import socket
import subprocess
import sys
import time

import harness
from harness import CONFIRM, DONE, PLATFORM, SETTINGS, SP, settings_text, write
from test_save import OLD_HOSTS, OLD_SETTINGS, SaveFixture

LOG = "/dev/log"
WHO = r" \(uid 0, parent python3\)"


@contextlib.contextmanager
def system_log():
    """A log daemon of the test's own at /dev/log; yields a function that gives the lines
    received so far."""
    receiver = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    receiver.bind(LOG)
    receiver.setblocking(False)
    received = []

    def lines():
        with contextlib.suppress(BlockingIOError):
            while True:
                received.append(receiver.recv(4096).decode("latin-1"))
        return received

    try:
        yield lines
    finally:
        receiver.close()
        os.remove(LOG)


def line(priority, text):
    """The pattern of one whole datagram: "<PRI>zarn[PID]: TEXT (uid 0, parent python3)"."""
    return re.compile(rf"<{priority}>zarn\[\d+\]: {text}{WHO}")


NOTICE, WARNING, ERROR = 29, 28, 27


class SystemLogTest(SaveFixture):
    def setUp(self):
        super().setUp()
        self.scripts()

    def assertLogged(self, lines, patterns):
        self.assertEqual(len(lines), len(patterns), lines)
        for got, pattern in zip(lines, patterns):
            self.assertRegex(got, pattern)
            self.assertTrue(pattern.fullmatch(got), got)

    def test_each_change_to_the_link_is_one_line(self):
        moved = r"platform 169\.254\.7\.3 -> 192\.168\.1\.1, sp 169\.254\.7\.2 -> 169\.254\.7\.2, port 7000 -> 7000"
        cases = [  # agent flags, args, settings before, read-only /pstore -> out, lines
            (["--listen", "x"], ["-J", "-a", "192.168.1.1", "-I", "127.0.0.1", "-w", "2"], OLD_SETTINGS,
             False, DONE, [
                 line(NOTICE, r"re-addressing the link to platform 192\.168\.1\.1, sp 169\.254\.7\.2: "
                              r"request sent to 127\.0\.0\.1 port 7000"),
                 line(NOTICE, "saved the link settings and the hosts table: " + moved),
                 line(NOTICE, r"gave the driver platform 192\.168\.1\.1, sp 169\.254\.7\.2")]),
            (None, ["-J", "-a", "192.168.1.1", "-I", "127.0.0.1", "-w", "2"], OLD_SETTINGS, False, DONE, [
                line(NOTICE, r"re-addressing the link to platform 192\.168\.1\.1, sp 169\.254\.7\.2: "
                             r"request not sent, no connection to 127\.0\.0\.1 port 7000"),
                line(NOTICE, "saved the link settings and the hosts table: " + moved),
                line(NOTICE, r"gave the driver platform 192\.168\.1\.1, sp 169\.254\.7\.2")]),
            ([], ["-o", "7100", "-w", "2"], None, False, CONFIRM, [
                line(NOTICE, r"saved the link settings and the hosts table: platform 169\.254\.101\.3 -> "
                             r"169\.254\.101\.3, sp 169\.254\.101\.2 -> 169\.254\.101\.2, port 6789 -> 7100")]),
            ([], ["-o", "7100", "-I", PLATFORM, "-w", "2"], OLD_SETTINGS.replace("7000", "6789"), True,
             harness.CANT_SAVE + CONFIRM, [
                 line(ERROR, r"link settings not saved, the save lock /pstore/zarn\.lock could not be had: "
                             r"platform 169\.254\.7\.3 -> 169\.254\.101\.3, sp 169\.254\.7\.2 -> "
                             r"169\.254\.7\.2, port 6789 -> 7100")]),
            (["--no-confirm"], ["-o", "7100", "-w", "2"], None, False,
             b"<cmdRetVal>1</cmdRetVal>\n", []),
            ([], ["--configRuvo"], OLD_SETTINGS, False, b"", [
                line(NOTICE, r"gave the driver platform 169\.254\.7\.3, sp 169\.254\.7\.2")]),
        ]
        for flags, args, before, read_only, out, patterns in cases:
            with self.subTest(args=args, flags=flags), system_log() as logged:
                self.fresh(before, read_only)
                if flags == ["--listen", "x"]:
                    context = self.agent(listen="127.0.0.1", port=7000)
                else:
                    context = self.agent(*flags) if flags is not None else contextlib.nullcontext()
                with context:
                    r = self.zarn(*args)
                self.assertEqual(r.out, out)
                self.assertLogged(logged(), patterns)

    def test_a_half_made_save_a_journal_and_the_timer_are_logged(self):
        with system_log() as logged:
            self.fresh(OLD_SETTINGS)
            os.mkdir("/etc/hosts.zarn-new")  # ... is cleared; a directory at the table is not
            os.remove("/etc/hosts")
            os.mkdir("/etc/hosts")
            self.addCleanup(lambda: os.path.isdir("/etc/hosts") and os.rmdir("/etc/hosts"))
            r = self.zarn("-J", "-a", "192.168.1.1", "-I", "127.0.0.1", "-w", "2")
            self.assertEqual(r.out, harness.NO_HOSTS + DONE)
            self.assertRegex(logged()[1], line(ERROR, r"saved the link settings but not the hosts table "
                                                      r"/etc/hosts: platform .*"))
            os.rmdir("/etc/hosts")
            write("/etc/hosts", OLD_HOSTS)

            logged().clear()
            write("/pstore/hosts.zarn-journal", "abc")
            os.chmod("/pstore/hosts.zarn-journal", 0o600)
            self.zarn("--configRuvo")
            self.assertLogged(logged(), [
                line(WARNING, r"journal /pstore/hosts\.zarn-journal for /etc/hosts set aside as "
                              r"/pstore/hosts\.zarn-journal\.set-aside: not a zarn journal"),
                line(NOTICE, r"gave the driver platform 192\.168\.1\.1, sp 169\.254\.7\.2")])

            logged().clear()
            self.fresh(OLD_SETTINGS)
            self.scripts(before="sleep 3\n")
            with self.agent(listen="127.0.0.1", port=7000):
                r = self.zarn("-J", "-a", "192.168.1.1", "-I", "127.0.0.1", "-w", "1")
            self.assertEqual(r.status, 2)
            self.assertEqual(logged()[-1:], [logged()[-1]])
            self.assertRegex(logged()[-1], line(ERROR, "the guard timer ended a run that was changing the link"))

    def test_readings_log_nothing(self):
        with system_log() as logged, self.agent():
            for args in (["-T"], ["-L"], ["-O"], ["-j"], ["-?"], ["--version"], ["-c", "0", "-n", "-"]):
                self.zarn(*args, "-w", "2")
            self.assertEqual(logged(), [])

    def test_the_parent_name_cannot_split_or_forge_a_line(self):
        parent = ("import ctypes, subprocess, sys\n"
                  "ctypes.CDLL(None).prctl(15, b'\\x7f\\n<9>zarn[1]: \\\\', 0, 0, 0)\n"
                  "sys.exit(subprocess.call(sys.argv[1:]))\n")
        with system_log() as logged:
            self.fresh(OLD_SETTINGS)
            cmd, env = self.zarn_command("--configRuvo")
            preload = env.pop("LD_PRELOAD", None)  # for zarn alone, not for its parent
            cmd = ["env", f"LD_PRELOAD={preload}", *cmd] if preload else cmd
            subprocess.run([sys.executable, "-c", parent, *cmd], env=env, check=True)
            self.assertEqual(len(logged()), 1)
            self.assertTrue(logged()[0].endswith(r" (uid 0, parent \x7f\x0a<9>zarn[1]:\x20\x5c)"),
                            logged()[0])

    def test_a_missing_or_stuck_log_changes_nothing(self):
        self.fresh(OLD_SETTINGS)
        quiet = self.zarn("-J", "-a", "192.168.1.1", "-I", "127.0.0.1", "-w", "2")
        self.assertEqual((quiet.out, quiet.err, quiet.status), (DONE, b"", 0))
        stuck = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)  # bound, never read
        stuck.bind(LOG)
        self.addCleanup(os.remove, LOG)
        self.addCleanup(stuck.close)
        sender = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        sender.setblocking(False)
        with contextlib.suppress(BlockingIOError):
            while True:
                sender.sendto(b"x" * 512, LOG)
        self.fresh(OLD_SETTINGS)
        r = self.zarn("-J", "-a", "192.168.1.1", "-I", "127.0.0.1", "-w", "0", timeout=5)
        self.assertEqual((r.out, r.err, r.status), (quiet.out, quiet.err, quiet.status))
        self.assertLess(r.elapsed, 3)
