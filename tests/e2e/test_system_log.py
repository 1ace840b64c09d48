"""The system log: one line for each change zarn makes to the link, none for a reading, and a
missing or stuck log socket changes nothing that zarn prints."""
import contextlib
import os
import re
import socket
import subprocess
import sys

import harness
from harness import CONFIRM, DONE, PLATFORM, SP, write
from test_save import OLD_HOSTS, OLD_SETTINGS, SaveFixture

LOG = "/dev/log"
NOTICE, WARNING, ERROR = 29, 28, 27
OLD, OLD_SP, NEW = "169.254.7.3", "169.254.7.2", "192.168.1.1"  # OLD_SETTINGS' addresses, -a
MOVE = ["-J", "-a", NEW, "-I", "127.0.0.1", "-w", "2"]
SAVED = "saved the link settings and the hosts table: "
TIMED_OUT = (ERROR, "the guard timer ended a run that was changing the link")  # once the save lock is taken


@contextlib.contextmanager
def system_log():
    """A log daemon of the test's own at /dev/log; yields a function that gives the lines
    received so far."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as receiver:
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
            os.remove(LOG)


def entries(lines):
    """Each whole datagram "<PRI>zarn[PID]: TEXT (uid 0, parent python3)" as (PRI, TEXT); any
    other as it is."""
    whole = (re.fullmatch(r"<(\d+)>zarn\[\d+\]: (.*) \(uid 0, parent python3\)", got, re.S) for got in lines)
    return [(int(m[1]), m[2]) if m else got for m, got in zip(whole, lines)]


def change(before, after):
    """A change of the link as the log names it: platform, sp and port, each before -> after."""
    return ", ".join(f"{name} {a} -> {b}" for name, a, b in zip(("platform", "sp", "port"), before, after))


MOVED = change((OLD, OLD_SP, 7000), (NEW, OLD_SP, 7000))  # what MOVE changes


class SystemLogTest(SaveFixture):
    def setUp(self):
        super().setUp()
        self.scripts()

    def test_each_change_to_the_link_is_one_line(self):
        readdressing = f"re-addressing the link to platform {NEW}, sp {OLD_SP}: request "
        moved = [(NOTICE, SAVED + MOVED),
                 (NOTICE, f"gave the driver platform {NEW}, sp {OLD_SP}")]
        local, default = ((), {"listen": "127.0.0.1", "port": 7000}), ((), {})
        cases = [  # agent (flags, place; None: none), args, settings, read-only /pstore -> out, lines
            (local, MOVE, OLD_SETTINGS, False, DONE,
             [(NOTICE, readdressing + "sent to 127.0.0.1 port 7000"), *moved]),
            (None, MOVE, OLD_SETTINGS, False, DONE,
             [(NOTICE, readdressing + "not sent, no connection to 127.0.0.1 port 7000"), *moved]),
            (default, ["-o", "7100", "-w", "2"], None, False, CONFIRM,
             [(NOTICE, SAVED + change((PLATFORM, SP, 6789), (PLATFORM, SP, 7100)))]),
            (default, ["-o", "7100", "-I", PLATFORM, "-w", "2"], OLD_SETTINGS.replace("7000", "6789"), True,
             harness.CANT_SAVE + CONFIRM,
             [(ERROR, "link settings not saved, the save lock /pstore/zarn.lock could not be had: "
                          + change((OLD, OLD_SP, 6789), (PLATFORM, OLD_SP, 7100)))]),
            ((("--no-confirm",), {}), ["-o", "7100", "-w", "2"], None, False,
             b"<cmdRetVal>1</cmdRetVal>\n", []),
            (default, ["--configRuvo"], OLD_SETTINGS, False, b"",
             [(NOTICE, f"gave the driver platform {OLD}, sp {OLD_SP}")]),
        ]
        cases += [(default, [*args, "-w", "2"], None, False, None, [])  # readings log nothing
                  for args in (["-T"], ["-L"], ["-O"], ["-j"], ["-?"], ["--version"], ["-c", "0", "-n", "-"])]
        cases += [((("--no-etx",), {}), ["-T", "-w", "1"], None, False, None, [])]  # nor a timeout
        cases += [((("--reply", "<cmdRetVal>0</cmdRetVal>", "--no-etx"), {}), ["-o", "7100", "-w", "1"], None, False,
                   None, [(NOTICE, SAVED + change((PLATFORM, SP, 6789), (PLATFORM, SP, 7100))), TIMED_OUT])]
        for agent, args, before, read_only, out, lines in cases:
            with self.subTest(args=args, agent=agent), system_log() as logged:
                self.fresh(before, read_only)
                with self.agent(*agent[0], **agent[1]) if agent else contextlib.nullcontext():
                    r = self.zarn(*args)
                self.assertEqual(r.out, r.out if out is None else out)
                self.assertEqual(entries(logged()), lines)

    def test_a_change_that_fails_is_logged(self):
        not_given = f"the driver was not given platform {OLD}, sp {OLD_SP}: "
        failing = {"RUVO_STANDIN_FAIL": "SET_SP_IP_IOCTL"}
        cases = [  # environment (None: no driver node, last), settings, scripts' statuses, args -> a line
            (failing, OLD_SETTINGS, (0, 0), ["--configRuvo"], (ERROR, not_given + "a request failed with -1")),
            ({}, harness.MALFORMED, (0, 0), ["--configRuvo"],
             (ERROR, "the driver was not given the link settings: /pstore/ruvo_config is malformed")),
            ({}, OLD_SETTINGS, (0, 1), MOVE, (WARNING, "the network scripts failed after the save: "
                                                       "/usr/local/bin/spIpConfig.sh; /usr/local/bin/addHosts.sh;")),
            ({"ZARN_FAIL": "fsync"}, OLD_SETTINGS, (0, 0), MOVE,
             (ERROR, "link settings not saved, /pstore/ruvo_config could not be written: " + MOVED)),
            (None, OLD_SETTINGS, (0, 0), ["--configRuvo"], (ERROR, not_given + "no node, result -2")),
        ]
        for env, settings, statuses, args, line in cases:
            with self.subTest(line[1]), system_log() as logged:
                self.fresh(settings)
                self.scripts(statuses)
                if env is None:
                    os.remove(harness.DRIVER_NODE)
                self.zarn(*args, env=env, preload=(harness.CRASH_LIB,))
                self.assertIn(line, entries(logged()))

    def test_a_half_made_save_a_journal_and_the_timer_ending_or_unarmed_are_logged(self):
        with system_log() as logged:
            self.fresh(OLD_SETTINGS)
            os.mkdir("/etc/hosts.zarn-new")  # ... is cleared; a directory at the table is not
            os.remove("/etc/hosts")
            os.mkdir("/etc/hosts")
            self.addCleanup(lambda: os.path.isdir("/etc/hosts") and os.rmdir("/etc/hosts"))
            self.assertEqual(self.zarn(*MOVE).out, harness.NO_HOSTS + DONE)
            self.assertEqual(entries(logged())[1], (ERROR, "saved the link settings but not the hosts table "
                                                           f"/etc/hosts: {MOVED}"))
            os.rmdir("/etc/hosts")
            write("/etc/hosts", OLD_HOSTS)

            logged().clear()
            os.chmod(write("/pstore/hosts.zarn-journal", "abc"), 0o600)
            self.zarn("--configRuvo")
            self.assertEqual(entries(logged()), [
                (WARNING, "journal /pstore/hosts.zarn-journal for /etc/hosts set aside as "
                              "/pstore/hosts.zarn-journal.set-aside: not a zarn journal"),
                (NOTICE, f"gave the driver platform {NEW}, sp {OLD_SP}")])

            logged().clear()
            self.fresh(OLD_SETTINGS)
            self.scripts(before="sleep 3\n")
            with self.agent(listen="127.0.0.1", port=7000):
                self.assertEqual(self.zarn("-J", "-a", NEW, "-I", "127.0.0.1", "-w", "1").status, 2)
            self.assertEqual(entries(logged())[-1], TIMED_OUT)

            logged().clear()
            self.fresh(OLD_SETTINGS)
            r = self.zarn(*MOVE, preload=(harness.CRASH_LIB,), env={"ZARN_FAIL": "sigaction"})
            self.assertEqual((r.out, entries(logged())[0]), (harness.NO_SIGNAL + DONE, (
                NOTICE, f"re-addressing the link to platform {NEW}, sp {OLD_SP}: request not sent, "
                        "the guard timer could not be armed, for 127.0.0.1 port 7000")))

    def test_the_parent_name_cannot_split_or_forge_a_line(self):
        for name, shown in ((rb"\x7f\n<9>zarn[1]: \\", r"\x7f\x0a<9>zarn[1]:\x20\x5c"), (b"", "?")):
            parent = ("import ctypes, subprocess, sys\n"
                      f"ctypes.CDLL(None).prctl(15, b'{name.decode()}', 0, 0, 0)\n"
                      "sys.exit(subprocess.call(sys.argv[1:]))\n")
            with self.subTest(shown), system_log() as logged:
                self.fresh(OLD_SETTINGS)
                cmd, env = self.zarn_command("--configRuvo")
                preload = env.pop("LD_PRELOAD", None)  # for zarn alone, not for its parent
                cmd = ["env", f"LD_PRELOAD={preload}", *cmd] if preload else cmd
                subprocess.run([sys.executable, "-c", parent, *cmd], env=env, check=True)
                self.assertEqual([line.endswith(f" (uid 0, parent {shown})") for line in logged()], [True], logged())

    def test_a_line_longer_than_a_datagram_is_cut_to_1023_bytes(self):
        deep = os.path.join(self.dir, *["d" * 200] * 6)  # the table's path alone is longer
        os.makedirs(deep)
        os.remove("/etc/hosts")
        os.symlink(write(os.path.join(deep, "hosts"), OLD_HOSTS), "/etc/hosts")
        self.addCleanup(os.remove, "/etc/hosts")
        os.chmod(write("/pstore/hosts.zarn-journal", "abc"), 0o600)
        with system_log() as logged:
            self.zarn("--configRuvo")
            line = logged()[0]
        self.assertEqual((len(line), line.startswith(f"<{WARNING}>zarn[")), (1023, True))

    def test_a_missing_or_stuck_log_changes_nothing(self):
        self.fresh(OLD_SETTINGS)
        quiet = self.zarn(*MOVE)
        self.assertEqual(quiet[:3], (DONE, b"", 0))
        stuck = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)  # bound, never read, filled by itself
        stuck.bind(LOG)
        self.addCleanup(os.remove, LOG)
        self.addCleanup(stuck.close)
        stuck.setblocking(False)
        with contextlib.suppress(BlockingIOError):
            while True:
                stuck.sendto(b"x" * 512, LOG)
        self.fresh(OLD_SETTINGS)
        r = self.zarn(*MOVE[:-1], "0", timeout=5)
        self.assertEqual((*r[:3], r.elapsed < 3), (*quiet[:3], True))
