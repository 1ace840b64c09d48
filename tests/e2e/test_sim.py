"""The simulator as zarn meets it: the port move, scenarios, sp-sandbox."""
import os
import re
import socket
import subprocess

import harness
from harness import (ABNORMAL, CONFIRM, DONE, EMULATOR, PLATFORM, TIMEOUT, ZARN,
                     settings_text, write)

REPO = os.path.join(os.path.dirname(__file__), "..", "..")
SP_SANDBOX = os.path.join(REPO, "scripts", "sp-sandbox")
TEMP = b"<temp>41</temp>\n"


class SimulatorTest(harness.SandboxTest):
    def test_the_agent_moves_to_the_port_it_confirms(self):
        for name in ("spIpConfig.sh", "addHosts.sh"):
            self.install_script(name, "exit 0\n")
        with self.agent(moves=True) as agent:
            runs = [self.zarn(*args, "-w", "3") for args in (["-o", "7100"], ["-C"])]
            self.assertEqual([(r.out, r.status) for r in runs], [(CONFIRM, 0), (TEMP, 0)])
            self.assertEqual((harness.read(agent.ready), agent.requests(2)), ("7100\n", [b"o 7100", b"C"]))
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection((PLATFORM, 6789)).close()

    def test_each_letter_answers_as_the_scenario_says(self):
        scenario = write(self.path("platform.scenario"), "# a platform seen misbehaving\n* delay=150\n"
                              "T reply=<time>2001-02-03 04:05:06</time>\nL no-etx close-early\n"
                              "H chunk=3 pause=20 reply=a\\x00bcdefg\nc vpd-size=100\nC silent\n")
        cases = [(["-T"], b"<time>2001-02-03 04:05:06</time>\n", 0),
                 (["-L"], b"overridden" + ABNORMAL, 0), (["-H"], b"a bcdefg\n", 0),
                 (["-c", "0", "-n", "-"],
                  b"<error>Bytes read (100) != vpd file size</error>\n</zarn>\n", 254),
                 (["-C"], TIMEOUT, 2)]
        with self.agent("--scenario", scenario, "--reply", "overridden") as agent:
            for args, out, status in cases:
                with self.subTest(args=args):
                    r = self.zarn(*args, "-w", "1")
                    self.assertEqual((r.out, r.status, r.elapsed > 0.15), (out, status, True))
            self.assertRegex(agent.lines()[0], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}\t"
                             r"169\.254\.101\.[23]:\d+\tT\t<time>2001-02-03 04:05:06</time>"
                             r"\\x03\tdelay=150$")

    def sp_sandbox(self, script):
        """The lines `script` prints when scripts/sp-sandbox runs it, which must succeed."""
        if EMULATOR:
            self.skipTest("the SP sandbox runs the native build")
        env = {**os.environ, "ZARN_BUILD": os.path.dirname(ZARN), "ASAN_OPTIONS": "verify_asan_link_order=0"}
        r = subprocess.run([SP_SANDBOX, "sh", "-c", script], capture_output=True, timeout=60, env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.decode().splitlines()

    def test_a_command_runs_against_the_sandboxed_platform(self):
        lines = self.sp_sandbox("zarn -o 7000 && zarn -T && "
                                "cat /pstore/ruvo_config /var/log/sp-sandbox/scripts.log")
        self.assertEqual(lines[0], "<cmdRetVal>0</cmdRetVal>")
        self.assertRegex(lines[1], r"^<time>.*</time>$")
        self.assertEqual(lines[2:5], settings_text(port=7000).splitlines())
        self.assertRegex("\n".join(lines[5:]), r"spIpConfig\.sh \n.*addHosts\.sh $")

    def test_the_sandboxed_link_moves_to_new_addresses_and_back(self):
        lines = self.sp_sandbox(
            "zarn -J -a 169.254.102.3 -g 169.254.102.2 && zarn -j && zarn -T && "
            "zarn -J -a 169.254.101.3 -g 169.254.101.2 && zarn -T && zarn -j && "
            "cut -f 3,5 /var/log/sp-sandbox/agent.log")
        done, time = DONE.decode().strip(), "<time>*</time>"
        self.assertEqual([re.sub(r"<time>.+</time>", time, line) for line in lines], [
            done, "169.254.102.3            169.254.102.2", time,
            done, time, "169.254.101.3            169.254.101.2",
            "J p=169.254.102.3 s=169.254.102.2\treaddressed=169.254.102.3", "T\t-",
            "J p=169.254.101.3 s=169.254.101.2\treaddressed=169.254.101.3", "T\t-"])
