"""The shipped example caller, packaging/examples/zarn-set-link.sh: it tells a change of the
link that took from one that did not, where zarn's own status is 0 for both."""
import contextlib
import os
import re
import subprocess

import harness
from harness import PLATFORM, SETTINGS, SP, read, settings_text

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                      "..", "..", "packaging", "examples", "zarn-set-link.sh")
MOVED = "169.254.101.4"  # where the platform goes on -J, beside its own address


class CallerTest(harness.SandboxTest):
    def setUp(self):
        super().setUp()
        for name in ("spIpConfig.sh", "addHosts.sh"):
            self.install_script(name, "exit 0\n")
        # The driver stand-in keeps what it is given, so that -j shows it.
        self.standin = {"RUVO_STANDIN_STATE": self.path("driver.state")}

    def caller(self, *args):
        """Runs the script with ZARN naming the harness's zarn command. The driver stand-in
        unloads itself from the environment, so its preload is one of ZARN's words."""
        cmd, env = self.zarn_command()
        if "LD_PRELOAD" in env:
            cmd = ["env", "LD_PRELOAD=" + env.pop("LD_PRELOAD"), *cmd]
        if any(" " in word for word in cmd):
            self.skipTest("the zarn command has a word with a blank, which ZARN cannot carry")
        env.update(ZARN=" ".join(cmd), ZARN_WAIT="5", ZARN_TRIES="2")
        proc = subprocess.run(["/bin/sh", SCRIPT, *args], cwd=self.dir, env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60, start_new_session=True)
        return proc.returncode, proc.stdout.decode(), proc.stderr.decode()

    def fresh(self, read_only):
        """No settings file, and /pstore writable or not."""
        harness.remount_pstore("rw")
        harness.remove(SETTINGS)
        harness.remount_pstore("ro" if read_only else "rw")

    def assert_reports(self, result, status, words):
        code, out, err = result
        shown, other = (err, out) if status else (out, err)
        self.assertEqual((code, other), (status, ""), err)
        self.assertRegex(shown, rf"^zarn-set-link\.sh: [^\n]*{re.escape(words)}[^\n]*\n\Z")

    def test_port_change_is_checked_with_the_stored_port(self):
        cases = [  # simulator flags, /pstore read-only -> status, words of the report, saved
            ([], False, 0, "the SP saved it", settings_text(port=7100)),
            (["--no-confirm"], False, 1, "still answers on 6789", None),
            (["--split-confirm"], False, 2, "did not see its whole confirmation", None),
            ([], True, 2, "could not save it (is /pstore writable?)", None),
        ]
        for flags, read_only, status, words, saved in cases:
            with self.subTest(flags=flags, read_only=read_only), \
                    self.agent(*flags, moves=True) as agent:
                self.fresh(read_only)
                result = self.caller("port", "7100")
                self.assertIn(b"o 7100", agent.requests())
                self.assert_reports(result, status, words)
                self.assertEqual(read(SETTINGS), saved)
        self.assertEqual(self.caller("port", "7100x")[0], 1)  # refused by zarn: nothing sent

    def test_readdressing_is_checked_with_the_driver_and_the_agent(self):
        unmoved = lambda: subprocess.run(["ip", "addr", "del", f"{MOVED}/24", "dev", "plat0"],
                                         stderr=subprocess.DEVNULL)
        self.addCleanup(unmoved)
        readdress = harness.write(self.path("readdress"), '#!/bin/sh\nip addr add "$1/24" dev plat0\n')
        os.chmod(readdress, 0o755)
        cases = [  # agent, /pstore read-only, new platform -> status, words of the report
            (True, False, MOVED, 0, f"the link is platform {MOVED}, sp {SP}"),
            (False, False, PLATFORM, 2, f"does not answer at {PLATFORM} port 6789 after 2 tries"),
            (True, True, MOVED, 2, f"zarn -j shows platform {PLATFORM}, ruvo0 {SP}"),
        ]
        for agent, read_only, platform, status, words in cases:
            with self.subTest(agent=agent, read_only=read_only):
                self.fresh(read_only)
                harness.remove(self.path("driver.state"))
                unmoved()
                with self.agent("--readdress", readdress) if agent else contextlib.nullcontext():
                    result = self.caller("addresses", platform, SP)
                self.assert_reports(result, status, words)
