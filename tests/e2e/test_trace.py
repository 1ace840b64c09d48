"""--trace: one reading of standard error explains each silent failure, and standard output
and the status are what they are without it."""
import contextlib
import re

import harness
from harness import DONE, NO_SCRIPT, NOT_SENT, PLATFORM, TIMEOUT

TRACE_LINE = re.compile(rb"trace: [^\n]*\n")


class TraceTest(harness.SandboxTest):
    def traced(self, *args, **run):
        """Runs zarn without and with --trace, each from no settings file; the trace, once
        the two runs agree."""
        harness.remove(harness.SETTINGS)
        plain = self.zarn(*args, **run)
        harness.remove(harness.SETTINGS)
        traced = self.zarn("--trace", *args, **run)
        self.assertEqual((traced.out, traced.status, TRACE_LINE.sub(b"", traced.err),
                          traced.err.endswith(f"trace: exit status {plain.status}\n".encode())),
                         (plain.out, plain.status, plain.err, True))
        return plain, traced.err.decode()

    def test_each_silent_failure_is_explained(self):
        self.ip("neigh", "replace", "169.254.101.9", "lladdr", "02:00:00:00:00:09",
                "dev", "ruvo0", "nud", "permanent")
        shell = r'shell "/usr/local/bin/spIpConfig\.sh; /usr/local/bin/addHosts\.sh;": '
        move = ["-J", "-a", "10.1.1.1", "-w", "2"]
        cases = [  # agent flags (None: no agent), failing call, driver stand-in (None: no node, last),
            # args -> output (None: any), status, what the trace says
            (None, "", {}, ["-T", "-w", "2", "-I", "192.0.2.1"], b"", 242,  # the sandbox has no route there
             r"connect 192\.0\.2\.1:6789\n<error>connect error</error>: Network is unreachable\n"
             r"trace: connect failed after \d+ ms\n"),
            ([], "", {}, ["-T", "-w", "1", "-I", "169.254.101.9"], TIMEOUT, 2,
             r"connect 169.254.101.9:6789\ntrace: guard timer ran out\n"),
            ([], "poll-timeout", {}, ["-T", "-w", "2"], b"", 242, r"connect: no answer after 20000 ms\n"),
            ([], "write-socket", {}, ["-T", "-w", "2"], NOT_SENT, 251, r'sent 0 bytes: ""\n'),
            (["--reply", "partial", "--close-early", "--no-etx"], "", {}, ["-T", "-w", "2"], None, 0,
             r"read 0 bytes: the agent closed the connection\n"),
            (["--reply", "a\\x00b\\\\\" \\x1f\\x7f"], "", {}, ["-T", "-w", "2"], b"a b\\\" \x1f\x7f\n", 0,
             re.escape(r'read 9 bytes: "a\x00b\\\" \x1f\x7f\x03"') + r"\ntrace: end of text\n"),
            ([], "", {}, ["-L", "-w", "0"], None, 0, r"guard timer not armed: the run may wait forever\n"),
            ([], "", {}, move, DONE, 0,
             r"settings /pstore/ruvo_config: none, built-in: sp 169.254.101.2, platform "
             rf"{PLATFORM}, port 6789\n(.*\n)*trace: save lock /pstore/zarn.lock: taken\n"
             rf"trace: driver SET_PLAT_IP_IOCTL {PLATFORM}: 0\n(.*\n)*"
             rf"trace: save /etc/hosts: by rename\ntrace: {shell}status 0\n"),
            ([], "posix_spawn", {}, move, NO_SCRIPT + DONE, 0, shell + "not run\n"),
            (None, "", {"RUVO_STANDIN_FAIL": "SET_PLAT_IP_IOCTL"}, ["--configRuvo"], b"", 255,
             rf"driver SET_PLAT_IP_IOCTL {PLATFORM}: -1\n"),
            (None, "", {"RUVO_STANDIN_GET": "fail"}, ["-j"], None, 0,
             r"driver GET_PLAT_IP_IOCTL: failed, the settings file is read instead\n"),
            (None, "", None, ["-j"], b"", 254, r"driver /dev/ruvo/ruvo0: cannot open: No such file or directory\n"),
        ]
        for script in ("spIpConfig.sh", "addHosts.sh"):
            self.install_script(script, "exit 0\n")
        for flags, failing, standin, args, out, status, explanation in cases:
            with self.subTest(flags=flags, failing=failing, standin=standin, args=args), \
                    self.agent(*flags) if flags is not None else contextlib.nullcontext():
                self.standin = standin or {}
                if standin is None:
                    harness.remove(harness.DRIVER_NODE)
                r, trace = self.traced(*args, preload=(harness.CRASH_LIB,), env={"ZARN_FAIL": failing})
                self.assertEqual((r.out if out is None else out, r.status), (r.out, status))
                self.assertRegex(trace, explanation)

    def test_every_step_of_a_run_in_order(self):
        """A reply read whole, a failed lookup, a failed read tried again under the timer, a
        name that resolves to a refusing host, the driver's answer with a settings file read and a
        malformed one, step by step."""
        built_in = f"settings /pstore/ruvo_config: none, built-in: sp 169.254.101.2, platform {PLATFORM}, port 6789"
        command = "command {}: host {}, port 6789, gateway 169.254.101.2, wait {} s"
        connect = [f"connect {PLATFORM}:6789", "connected after N ms", 'sent 1 bytes: "T"']
        cases = [  # arguments, failing call -> trace lines (after the built-in settings' line)
            (["-T", "-w", "2"], "", [command.format("getTime", PLATFORM, 2), "guard timer armed: 2 s",
                                     *connect, r'read 3 bytes: "OK\x03"', "end of text",
                                     "exit status 0"]),
            (["-I", "no.such.host", "-T", "-w", "2"], "", [
                command.format("getTime", "no.such.host", 2), "guard timer armed: 2 s",
                "host no.such.host: not resolved", "exit status 242"]),
            (["-T", "-w", "1"], "read-socket", [
                command.format("getTime", PLATFORM, 1), "guard timer armed: 1 s", *connect,
                "read failed: Input/output error", "guard timer ran out", "exit status 2"]),
            (["-I", "zarn-loop.test", "-T", "-w", "1"], "", [
                command.format("getTime", "zarn-loop.test", 1), "guard timer armed: 1 s",
                "host zarn-loop.test: 127.0.0.1", "connect 127.0.0.1:6789",
                "connect failed after N ms: Connection refused", "exit status 242"]),
            (["-j"], "", [built_in.replace("none, built-in", "read"), command.format("getRuvo", PLATFORM, 20),
                          f"driver GET_PLAT_IP_IOCTL: {PLATFORM}", "exit status 0"]),
            (["-?"], "", ["settings /pstore/ruvo_config: malformed, built-in from the first unreadable "
                          f"field: sp 0.0.0.1, platform {PLATFORM}, port 6789",
                          command.format("help", PLATFORM, 20).replace("169.254.101.2", "0.0.0.1"),
                          "exit status 0"]),
        ]
        with self.agent("--reply", "OK"):
            for args, failing, steps in cases:
                with self.subTest(args=args):
                    harness.remove(harness.SETTINGS)
                    settings = {"-?": "sp a 1 p0 b x\n", "-j": harness.settings_text()}.get(args[0])
                    if settings:
                        harness.write(harness.SETTINGS, settings)
                    r = self.zarn("--trace", *args, env={"ZARN_FAIL": failing}, preload=(harness.CRASH_LIB,))
                    lines = re.findall(r"^trace: (.*)$", re.sub(r"\d+ ms", "N ms", r.err.decode()), re.M)
                    self.assertEqual(lines, steps if steps[0].startswith("settings") else [built_in, *steps])
