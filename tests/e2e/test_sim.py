"""The agent simulator as SP developers use it: strict options, the reported
port, concurrent clients, the platform's state, scenario files and the
scripts/sp-sandbox wrapper."""
import os
import re
import socket
import subprocess
import time

import harness
from harness import AGENT_SIM, EMULATOR, PLATFORM, ZARN, settings_text

SP_SANDBOX = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "sp-sandbox")


class OptionsTest(harness.SandboxTest):
    def sim(self, *args):
        return subprocess.run(EMULATOR + [AGENT_SIM, *args], capture_output=True, timeout=10,
                              cwd=self.dir)

    def test_bad_values_are_refused_with_a_reason(self):
        scenario = os.path.join(self.dir, "bad.scenario")
        with open(scenario, "w") as f:
            f.write("# fine\nT delay=5\nTT silent\n")
        cases = [
            (["--listen", "banana"], "--listen: 'banana' is not an IPv4 address"),
            (["--port=65536"], "--port: '65536' is not a whole number from 0 to 65535"),
            (["--connections", "abc"], "--connections: 'abc' is not a whole number"),
            (["--delay", "1x"], "--delay: '1x' is not a whole number"),
            (["--vpd-size=-4"], "--vpd-size: '-4' is not a whole number"),
            (["--reply", "\\q"], "--reply: bad escape"),
            (["--bogus"], "unrecognized option '--bogus'"),
            (["stray"], "unexpected argument 'stray'"),
            (["--scenario", scenario], f"{scenario}:3: a line starts with one request letter"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = self.sim(*args)
                self.assertEqual((r.stdout, r.returncode), (b"", 2))
                self.assertIn(message, r.stderr.decode())

    def test_help_has_a_line_per_option(self):
        r = self.sim("-h")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        options = re.findall(r"^  --([a-z-]+)", r.stdout.decode(), re.M)
        self.assertCountEqual(options, [
            "listen", "port", "ready", "log", "connections", "scenario", "keep-port",
            "no-confirm", "split-confirm", "help", "reply", "flood", "no-etx", "close-early",
            "silent", "delay", "chunk", "pause", "vpd-size"])


class ServingTest(harness.SandboxTest):
    def test_any_free_port_is_reported_and_served(self):
        with self.agent(port=0) as agent:
            with open(agent.ready) as f:
                port = f.read()
            self.assertRegex(port, r"^[1-9][0-9]*\n$")
            self.write_settings(settings_text(port=int(port)))
            r = self.zarn("-C", "-w", "3")
            self.assertEqual((r.out, r.status), (b"<temp>41</temp>\n", 0))

    def test_a_held_connection_does_not_stop_another_client(self):
        with self.agent("--delay", "100") as agent, \
                socket.create_connection((PLATFORM, 6789)) as held:
            held.sendall(b"T")
            r = self.zarn("-w", "3", "-L")
            self.assertEqual((r.out, r.status), (b"<version>sim-1.0</version>\n", 0))
            self.assertEqual(sorted(agent.requests(2)), [b"L", b"T"])

    def test_the_agent_moves_to_the_port_it_confirms(self):
        for name in ("spIpConfig.sh", "addHosts.sh"):
            self.install_script(name, "exit 0\n")
        with self.agent(moves=True) as agent:
            r = self.zarn("-o", "7100", "-w", "3")
            self.assertEqual((r.out, r.status), (b"<cmdRetVal>0</cmdRetVal>\n", 0))
            with open(agent.ready) as f:
                self.assertEqual(f.read(), "7100\n")
            r = self.zarn("-C", "-w", "3")
            self.assertEqual((r.out, r.status), (b"<temp>41</temp>\n", 0))
            self.assertEqual(agent.requests(2), [b"o 7100", b"C"])
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection((PLATFORM, 6789)).close()

    def test_platform_state_follows_the_requests(self):
        network = "<ip>{}</ip><mask>{}</mask><gateway>{}</gateway>{}" \
                  "<ruvoIp>{}</ruvoIp><spIp>{}</spIp>\n"
        cases = [  # a request that sets, the one that shows, what it shows
            (["-E", "-a", "10.1.1.5", "-m", "255.0.0.0", "-g", "10.1.1.1"], ["-e"],
             network.format("10.1.1.5", "255.0.0.0", "10.1.1.1", "", PLATFORM, harness.SP)),
            (["-E", "-i", "eth1", "-a", "10.2.2.5", "-m", "255.255.0.0", "-g", "10.2.2.1"],
             ["-e"], network.format("10.2.2.5", "255.255.0.0", "10.2.2.1",
                                    "<interface>eth1</interface>", PLATFORM, harness.SP)),
            (["-D", "-a", "10.9.9.9"], ["-d"], "<dns>10.9.9.9</dns>\n"),
            (["-J", "-a", PLATFORM, "-g", "169.254.101.7"], ["-e"],
             network.format("10.2.2.5", "255.255.0.0", "10.2.2.1",
                            "<interface>eth1</interface>", PLATFORM, "169.254.101.7")),
        ]
        with self.agent():
            for change, show, shown in cases:
                with self.subTest(change=change):
                    self.zarn(*change, "-w", "3")
                    r = self.zarn(*show, "-w", "3")
                    self.assertEqual((r.out.decode(), r.status), (shown, 0))
            shown = time.strptime(self.zarn("-T", "-w", "3").out.decode(),
                                  "<time>%Y-%m-%d %H:%M:%S</time>\n")
            self.assertLess(abs(time.mktime(shown) - time.time()), 3)


class ScenarioTest(harness.SandboxTest):
    def test_each_letter_answers_as_the_scenario_says(self):
        scenario = os.path.join(self.dir, "platform.scenario")
        with open(scenario, "w") as f:
            f.write("# a platform seen misbehaving\n"
                    "* delay=150\n"
                    "T reply=<time>2001-02-03 04:05:06</time>\n"
                    "L no-etx close-early\n"
                    "H chunk=3 pause=20 reply=a\\x00bcdefg\n"
                    "c vpd-size=100\n"
                    "C silent\n")
        cases = [  # args, out, status
            (["-T"], b"<time>2001-02-03 04:05:06</time>\n", 0),
            (["-L"], b"overridden<error>Abnormal socket closure</error></zarn>\n", 0),
            (["-H"], b"a bcdefg\n", 0),
            (["-c", "0", "-n", "-"], b"<error>Bytes read (100) != vpd file size</error>\n"
                                     b"</zarn>\n", 254),
            (["-C"], b"<error>connection timeout</error>", 2),
        ]
        with self.agent("--scenario", scenario, "--reply", "overridden") as agent:
            for args, out, status in cases:
                with self.subTest(args=args):
                    r = self.zarn(*args, "-w", "1")
                    self.assertEqual((r.out, r.status), (out, status))
                    self.assertGreater(r.elapsed, 0.15)
            fields = agent.lines()[0].split("\t")
            self.assertRegex(fields[0], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}$")
            self.assertRegex(fields[1], r"^169\.254\.101\.[23]:\d+$")
            self.assertEqual(fields[2:], ["T", "<time>2001-02-03 04:05:06</time>\\x03",
                                          "delay=150"])


class SpSandboxTest(harness.SandboxTest):
    def test_a_command_runs_against_the_sandboxed_platform(self):
        if EMULATOR:
            self.skipTest("the SP sandbox runs the native build")
        env = {**os.environ, "ZARN_BUILD": os.path.dirname(ZARN),
               "ASAN_OPTIONS": "verify_asan_link_order=0"}
        r = subprocess.run([SP_SANDBOX, "sh", "-c", "zarn -o 7000 && zarn -T && "
                            "cat /pstore/ruvo_config /var/log/sp-sandbox/scripts.log"],
                           capture_output=True, timeout=60, env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.decode().splitlines()
        self.assertEqual(lines[0], "<cmdRetVal>0</cmdRetVal>")
        self.assertRegex(lines[1], r"^<time>.*</time>$")
        self.assertEqual(lines[2:5], settings_text(port=7000).splitlines())
        self.assertRegex("\n".join(lines[5:]), r"spIpConfig\.sh \n.*addHosts\.sh $")
