"""The save: setZarnPort once confirmed, setRuvo, refused texts, the guard timer."""
import contextlib
import os

import harness
from harness import (ALIAS, CANT_SAVE, CONFIRM, DONE, HOSTS, NO_SCRIPT, PLATFORM, REFUSED,
                     SETTINGS, SP, TIMEOUT, pstore, read, remount_pstore, remove, settings_text,
                     write)

OLD_SETTINGS = settings_text(sp="169.254.7.2", platform="169.254.7.3", port=7000)
# The platform's old line sits among the others, which must survive in order.
_lines = HOSTS.splitlines(keepends=True)
OLD_HOSTS = "".join(_lines[:2] + [f"169.254.7.3\t{ALIAS} old\n"] + _lines[2:])


def hosts_after(address):
    return HOSTS + f"{address}  {ALIAS}\n"


class SaveFixture(harness.SandboxTest):
    def setUp(self):
        super().setUp()
        self.events = os.path.join(self.dir, "events")
        self.fresh()

    def fresh(self, settings=None, read_only=False):
        """/pstore holding `settings` (None: no file, else owned by 1234:1234, mode 0600), the old
        hosts table and no logs."""
        remount_pstore("rw")
        for path in [*(os.path.join("/pstore", name) for name in pstore()), self.events, self.standin_log]:
            remove(path)
        write("/etc/hosts", OLD_HOSTS)
        if settings is not None:
            os.chown(write(SETTINGS, settings), 1234, 1234)
            os.chmod(SETTINGS, 0o600)
        if read_only:
            remount_pstore("ro")

    def scripts(self, statuses=(0, 0), before=""):
        """Both scripts (none when `statuses` is None) log their name, argument count, the settings
        file's lines, the hosts table's platform lines and the driver requests made so far."""
        for name, status in zip(("spIpConfig.sh", "addHosts.sh"), statuses or (None, None)):
            remove(os.path.join(harness.SCRIPTS, name))
            if status is not None:
                self.install_script(name, f'{before}echo "${{0##*/}} $# $(grep -c . {SETTINGS}) '
                                    f'$(grep -c {ALIAS} /etc/hosts) $(cat "$RUVO_STANDIN_LOG" '
                                    f'2>/dev/null | wc -l)" >> {self.events}\nexit {status}\n')

    def ran(self):
        return (read(self.events) or "").splitlines()

    def driver(self):
        return [(line.split()[0].removesuffix("_IP_IOCTL"), line.split()[-1])
                for line in self.driver_log()]

    def assert_untouched(self, settings=None):
        self.assertEqual((read(SETTINGS), read("/etc/hosts"), self.ran()), (settings, OLD_HOSTS, []))


class SaveTest(SaveFixture):
    def test_confirmed_port_is_saved_owned_by_root(self):
        cases = [  # settings before, agent's address and port, args, saved, saved mode
            (None, (PLATFORM, 6789), ["-o", "7100"], settings_text(port=7100), 0o644),
            (None, (PLATFORM, 6789), ["--setZarnPort=65535", "-g", "169.254.101.9"],
             settings_text(sp="169.254.101.9", port=65535), 0o644),
            (OLD_SETTINGS, ("127.0.0.1", 7000), ["-o", "1", "-I", "127.0.0.1"],
             settings_text(sp="169.254.7.2", platform="127.0.0.1", port=1), 0o600),
        ]
        self.scripts()
        self.addCleanup(os.umask, os.umask(0))  # the program sets its own creation mask
        for before, (listen, port), args, saved, mode in cases:
            with self.subTest(args=args), self.agent(listen=listen, port=port) as agent:
                self.fresh(before)
                self.assertEqual(self.zarn(*args, "-w", "5")[:3], (CONFIRM, b"", 0))
                self.assertEqual(agent.requests()[-1], b"o " + saved.split()[-1].encode())
                st = os.stat(SETTINGS)
                self.assertEqual((st.st_uid, st.st_gid, st.st_mode & 0o7777), (0, 0, mode))
                self.assertEqual((read(SETTINGS), pstore(), read("/etc/hosts")),
                                 (saved, ["ruvo_config"], hosts_after(listen)))
                self.assertEqual(self.ran(), ["spIpConfig.sh 0 3 1 0", "addHosts.sh 0 3 1 0"])

    def test_a_confirmed_port_saves_only_on_a_whole_marker_and_failures_are_reported(self):
        new_hosts, saved, old = hosts_after(PLATFORM), settings_text(port=7100), settings_text(sp="169.254.7.2")
        marker = "<cmdRetVal>0</cmdRetVal>"
        cases = [  # agent flags, scripts' statuses, read-only /pstore, faults -> out, file, hosts, scripts
            ([], (0, 1), False, {}, NO_SCRIPT + CONFIRM, saved, new_hosts, 2),
            ([], (1, 0), False, {}, CONFIRM, saved, new_hosts, 2),  # the line's status is the last's
            ([], None, False, {}, NO_SCRIPT + CONFIRM, saved, new_hosts, 0),
            ([], (0, 0), True, {}, CANT_SAVE + CONFIRM, old, OLD_HOSTS, 0),
            ([], (0, 0), False, {"ZARN_FAIL": "flock"}, CANT_SAVE + CONFIRM, old, OLD_HOSTS, 0),  # unlocked
            # Only a whole marker before any NUL, in one read, saves.
            (["--no-confirm"], (0, 0), False, {}, b"<cmdRetVal>1</cmdRetVal>\n", None, OLD_HOSTS, 0),
            (["--split-confirm"], (0, 0), False, {}, CONFIRM, None, OLD_HOSTS, 0),
            (["--reply", "\\x00" + marker], (0, 0), False, {}, b" " + CONFIRM, None, OLD_HOSTS, 0),
            (["--reply", marker * 2, "--chunk", "24", "--pause", "100"], (0, 0), False, {},
             marker.encode() + CONFIRM, saved, new_hosts, 4),  # each marker saves
        ]
        for flags, statuses, read_only, faults, out, file, hosts, ran in cases:
            with self.subTest(flags=flags, statuses=statuses, read_only=read_only, faults=faults), \
                    self.agent(*flags):
                self.fresh(old if CANT_SAVE in out else None, read_only)
                self.scripts(statuses)
                r = self.zarn("-o", "7100", "-w", "5", preload=(harness.CRASH_LIB,), env=faults)
                self.assertEqual((r.out, r.status, read(SETTINGS), read("/etc/hosts"), len(self.ran())),
                                 (out, 0, file, hosts, ran))

    def test_sequence_tells_the_agent_saves_and_reconfigures_the_driver(self):
        local = settings_text(sp="169.254.7.2", platform="127.0.0.1", port=7000)
        new = ["-J", "-a", "192.168.1.1", "-g", "192.168.1.254"]
        sent = b"J p=192.168.1.1 s=192.168.1.254"
        saved = settings_text(sp="192.168.1.254", platform="192.168.1.1")
        cases = [  # settings before, agent, /pstore read-only, args -> request, file after
            (None, (PLATFORM, 6789), False, new, sent, saved),
            (local, ("127.0.0.1", 7000), False, ["--setRuvo", "-a", "192.168.1.7"],
             b"J p=192.168.1.7 s=169.254.7.2",
             settings_text(sp="169.254.7.2", platform="192.168.1.7", port=7000)),
            (None, None, False, new, None, saved),  # the save and the driver go on regardless
            (local, ("127.0.0.1", 7000), True, new, sent, local),  # the driver gets the old file
        ]
        for before, listen, read_only, args, request, file in cases:
            with self.subTest(args=args, agent=listen, read_only=read_only), \
                    self.agent(listen=listen[0], port=listen[1]) if listen \
                    else contextlib.nullcontext() as agent:
                self.fresh(before, read_only)
                # The request is sent before the save: the scripts find it logged.
                wait = f"for i in $(seq 40); do [ -s {agent.log} ] && break; sleep 0.05; done\n" \
                    f"[ -s {agent.log} ] || echo early >> {self.events}\n" if agent else ""
                self.scripts(before=wait)
                r = self.zarn(*args, "-w", "5")
                self.assertIn(r.err, (b"", REFUSED) if agent is None else (b"",))
                self.assertEqual((r.out, r.status, agent.requests() if agent else [None], read(SETTINGS)),
                                 ((CANT_SAVE if read_only else b"") + DONE, 0, [request], file))
                old = before.split()[4] if before else PLATFORM
                sp, platform = file.split()[1], file.split()[4]  # pushed from the file after
                self.assertEqual(self.driver(), [("SET_PLAT", old), ("SET_PLAT", platform), ("SET_SP", sp)])
                if read_only:
                    self.assert_untouched(local)
                else:
                    self.assertEqual(read("/etc/hosts"), hosts_after(platform))
                    self.assertEqual(self.ran(), ["spIpConfig.sh 0 3 1 1", "addHosts.sh 0 3 1 1"])

    def test_texts_that_are_not_plain_are_refused_before_anything_happens(self):
        trap = os.path.join(self.dir, "trap")
        bad = ["1.2.3.4'", f"$(touch {trap})", "1.2.3.4;true", "1.2.3.4\n", "1.2.3.4 ", "",
               "1.2.3", "0x1.2.3.4", "1.2.3.256", "010.1.1.1", "0.0.0.0", "255.255.255.255"]
        address = "<error>Refused {}: not a dotted-quad address</error>\n"
        cases = [(["-J", "-a", t, "-g", SP], address.format("-a")) for t in bad]
        cases += [(["-J", "-a", "10.1.1.1", "-g", t], address.format("-g")) for t in bad]
        cases += [(["-o", "7100", "-I", t], address.format("-I")) for t in bad]
        cases += [(["-o", "7100", "-g", t], address.format("-g")) for t in bad]
        cases += [(["-o", t], "<error>Refused -o: not a port number in 1..65535</error>\n") for t in
                  ["7100'", "$(id)", "7100;true", "7100\n", " 7100", "", "0", "65536", "+7100", "000080"]]
        self.scripts()
        with self.agent() as agent:
            for args, message in cases:
                with self.subTest(args=args):
                    self.assertEqual((*self.zarn(*args, "-w", "5")[:3], self.driver_log(), os.path.exists(trap)),
                                     (message.encode(), b"", 234, [], False))
                    self.assert_untouched()
            r = self.zarn("-J", "-a", "10.1.1.1", "-I", "1.2.3.256")  # checked where it is used
            self.assertEqual((r.out, r.status, self.driver_log(), agent.requests(1, timeout=0.3)),
                             (b"<error>Invalid host IP address</error>\n", 242, [], []))
            self.assert_untouched()

    def test_a_failed_connection_leaves_no_timer_over_the_save(self):
        self.scripts(before="sleep 1\n")
        for env, err in (({}, b""),  # refused during the wait: no message
                         ({"ZARN_FAIL": "socket"}, b"<error>generate error</error>: Input/output error\n")):
            with self.subTest(env=env):
                self.fresh()
                r = self.zarn("-J", "-a", "192.168.1.1", "-I", "127.0.0.1", "-w", "1",
                              preload=(harness.CRASH_LIB,), env=env)
                self.assertEqual((r.out, r.err, r.status, len(self.ran())), (DONE, err, 0, 2))

    def test_timer_after_the_scripts_stops_no_other_process(self):
        self.scripts()
        with self.agent("--reply", "<cmdRetVal>0</cmdRetVal>", "--no-etx") as agent:
            r = self.zarn("-o", "7100", "-w", "1")
            self.assertEqual((r.out, r.status, len(self.ran()), agent.proc.poll()),
                             (CONFIRM[:-1] + TIMEOUT, 2, 2, None))
