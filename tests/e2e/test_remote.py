"""Remote commands: request bytes, relaying, connection failures, the guard timer."""
import signal
import subprocess

import harness
from harness import ABNORMAL, DONE, NO_SIGNAL, NOT_SENT, SP, TIMEOUT


class RemoteTest(harness.SandboxTest):
    def test_request_bytes_for_every_command(self):
        cases = [([f"-{c}"], c.encode(), b"OK\n") for c in "bCdeHLsTv"]
        cases += [
            (["--getversion"], b"L", b"OK\n"), (["-D"], b"D \n", b"OK\n"),
            (["--setdns", "--addr", "10.0.0.1"], b"D 10.0.0.1\n", b"OK\n"),
            (["-E", "-a", "10.0.0.1", "-m", "255.255.255.0", "-g", "10.0.0.254"],
             b"E 10.0.0.1 255.255.255.0 10.0.0.254", b"OK\n"),
            (["-E"], b"E   " + SP.encode(), b"OK\n"),
            (["-E", "--interface", "eth1", "-a", "10.0.0.1", "-m", "255.0.0.0"],
             b'E -name"eth1" 10.0.0.1 255.0.0.0 ' + SP.encode(), b"OK\n"),
            (["-E", "-i", "", "-a", "10.0.0.1"], b"E 10.0.0.1  " + SP.encode(), b"OK\n"),
            (["--hbpoll", "5"], b"h 5\n", b"OK\n"), (["--mcpoll", "9"], b"p 9\n", b"OK\n"),
            (["-h", ""], b"h \n", b"OK\n"), (["-o", "7000"], b"o 7000", b"OK\n"),
            (["-c", "3a", "-n", "-"], b"c 3", None), (["--getCpuid=-4", "-n", "-"], b"c -4", None),
            (["-c", "2147483647", "-n", "-"], b"c 2147483647", None),
            (["-c", "-2147483648", "-n", "-"], b"c -2147483648", None)]
        with self.agent("--reply", "OK") as agent:
            for i, (args, request, out) in enumerate(cases, 1):
                with self.subTest(args=args):
                    r = self.zarn(*args, "-w", "2")
                    self.assertEqual(agent.requests(i)[-1], request)
                    if out is not None:
                        self.assertEqual((r.out, r.err, r.status), (out, b"", 0))

    def test_no_reply_is_read_for_forced_commands(self):
        with self.agent("--silent") as agent:
            for i, (option, request) in enumerate(
                    [("-f", b"f"), ("-B", b"B"), ("--forcedShutdown", b"f")], 1):
                with self.subTest(option=option):
                    r = self.zarn(option)
                    self.assertEqual((*r[:3], r.elapsed < 1, agent.requests(i)[-1]),
                                     (DONE, b"", 0, True, request))

    def test_reply_relaying(self):
        cases = [
            (["--reply", "OK"], b"OK\n"), (["--reply", "line1\\nline2\\t."], b"line1\nline2\t.\n"),
            (["--reply", "first part, second part", "--chunk", "5", "--pause", "50"],
             b"first part, second part\n"),
            (["--reply", "x" * 600], b"x" * 600 + b"\n"),
            (["--reply", "OK\\x03tail", "--no-etx"], b"OK\ntail"),
            (["--reply", "ab\\x03cd"], b"ab\ncd\x03"), (["--reply", "a\\x00b\\x00"], b"a b \n"),
            (["--reply", "partial", "--no-etx", "--close-early"], b"partial" + ABNORMAL),
            (["--reply", "", "--no-etx", "--close-early"], ABNORMAL)]
        for flags, out in cases:
            with self.subTest(flags=flags), self.agent(*flags):
                self.assertEqual(self.zarn("-T", "-w", "2")[:3], (out, b"", 0))

    def test_a_failed_call_around_the_connection(self):
        """A failed wait for the connection counts as ready, so the socket's pending error decides;
        a pending error that cannot be read ends the run before the request, and a guard timer
        that cannot be set (no handler, or the caller's alarm pending) before the connection; a
        request that cannot be written is reported, and a reply that cannot be read is tried
        again only under the timer."""
        cases = [  # failing call (None: the caller's alarm), wait -> out, status, requests (b"": none)
            ("poll", "2", b"OK\n", 0, [b"T"]), ("getsockopt", "2", b"", 242, [b""]),
            ("sigaction", "2", NO_SIGNAL, 242, []),
            (None, "2", b"<error>Alarm already set</error>", 242, []),
            ("write-socket", "2", NOT_SENT, 251, [b""]),
            # A failed read is tried again only while the timer bounds the retries.
            ("read-socket", "0", ABNORMAL, 0, [b"T"]), ("read-socket", "1", TIMEOUT, 2, [b"T"])]
        for name, wait, out, status, requests in cases:
            with self.subTest(name, wait=wait), self.agent("--reply", "OK") as agent:
                run = self.spawn("-T", "-w", wait, env={"ZARN_FAIL": name or ""}, preload=(harness.CRASH_LIB,),
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 preexec_fn=None if name else lambda: signal.alarm(60))
                self.assertEqual((*run.communicate(timeout=10), run.returncode), (out, b"", status))
                self.assertEqual(agent.requests(max(len(requests), 1), timeout=0.3), requests)

    def test_host_names(self):
        runs = [self.zarn("-I", host, "-T", "-w", "2") for host in ("no.such.host", "300.1.2.3")]
        self.assertEqual([(r.out, r.status, r.err.startswith(b"gethostbyname: ")) for r in runs],
                         [(b"", 242, True)] * 2, runs)
        with self.agent("--reply", "OK", listen="127.0.0.1") as agent:
            self.assertEqual(self.zarn("-I", "zarn-loop.test", "-T", "-w", "2")[:3], (b"OK\n", b"", 0))
            self.assertEqual(agent.requests(), [b"T"])

    def test_the_timer_ends_an_unfinished_exchange(self):
        # A silent agent and one that never answers: test_trace.
        with self.agent("--reply", "partial", "--no-etx"):
            r = self.zarn("-T", "-w", "1")
        self.assertEqual((*r[:3], 0.9 < r.elapsed < 3.5), (b"partial" + TIMEOUT, b"", 2, True))

    def test_waits_without_a_timer_or_within_it(self):
        flags = ["--reply", "partial", "--no-etx", "--close-early", "--delay", "1200"]
        for wait in ("-1", "0", "abc", "99999999999", "3"):
            with self.subTest(wait=wait), self.agent(*flags):
                r = self.zarn("-T", "-w", wait)
                self.assertEqual((*r[:3], r.elapsed > 1.1), (b"partial" + ABNORMAL, b"", 0, True))
