"""Command line: usage text, the one-command rule, option forms and text slots,
the start-up settings and getZarnPort."""
import harness
from harness import (BAD_CPU, MALFORMED, PLATFORM, STARTUP_BAD, STRICT_BAD, WRONG_COUNT,
                     settings_text)

USAGE = b"""Usage: zarn -<command> -[parameters]
  where command is:
      -b    --reboot
      -B    --forcedReboot
      -c    --getCpuid
      -C    --getTemp
      -D    --setdns
      -d    --getdns
      -E    --setip
      -e    --getip
      -f    --forcedShutdown
      -H    --getHost
      -h    --hbpoll
      -J    --setRuvo
      -j    --getRuvo
      -L    --getversion
      -o    --setZarnPort
      -O    --getZarnPort
      -p    --mcpoll
      -s    --shutdown
      -T    --getTime
      -v    --getfeatures
      -?    --help
  and parameters are:
      -a    --addr
      -n    --filename
      -g    --gateway
      -I    --hostIp
      -m    --mask
      -i    --interface
      -l    --level
      -t    --metric


examples:
  zarn_sp -b
\tThis will cause the platform OS to reboot.

  zarn_sp -SET_RUVO_IP -a 192.168.1.1 -g 192.168.1.254
\tThis informs the platform side that the platform address should
\tbe 192.168.1.1, and the SP side address is 192.168.1.254

"""
LONG = "".join(chr(ord("a") + i % 26) for i in range(300))


class UsageTest(harness.SandboxTest):
    def test_usage_and_parser_complaints_on_stderr_with_status_0(self):
        me = harness.ZARN.encode()
        cases = [
            (["-?"], b""),
            (["--help"], b""),
            (["--he"], b""),
            (["-x"], b"%s: invalid option -- 'x'\n" % me),
            (["-T", "-x"], b"%s: invalid option -- 'x'\n" % me),
            (["-b", "-b", "-x"], b"%s: invalid option -- 'x'\n" % me),
            (["-c"], b"%s: option requires an argument -- 'c'\n" % me),
            (["-T", "-I"], b"%s: option requires an argument -- 'I'\n" % me),
            (["--hostIp"], b"%s: option '--hostIp' requires an argument\n" % me),
            (["--nosuch"], b"%s: unrecognized option '--nosuch'\n" % me),
            (["--reboot=3"], b"%s: option '--reboot' doesn't allow an argument\n" % me),
            (["--getT"], b"%s: option '--getT' is ambiguous; possibilities:"
                         b" '--getTemp' '--getTime'\n" % me),
        ]
        for args, complaint in cases:
            with self.subTest(args=args):
                r = self.zarn(*args)
                self.assertEqual((r.out, r.err, r.status), (b"", complaint + USAGE, 0))


class CommandRuleTest(harness.SandboxTest):
    def test_exactly_one_command(self):
        for args in ([], ["-b", "-s"], ["-b", "-b"], ["-t", "5"], ["--reboot", "-b"],
                     ["stray"], ["-a", "1.2.3.4", "-l", "3"]):
            with self.subTest(args=args):
                r = self.zarn(*args)
                self.assertEqual((r.out, r.err, r.status), (WRONG_COUNT, b"", 234))

    def test_non_option_arguments_are_collected_wherever_they_stand(self):
        for args, listed in [(["-b", "extra", "words"], b"extra words "),
                             (["extra", "-b", "words"], b"extra words "),
                             (["-I", PLATFORM, "x", "-T"], b"x "),
                             (["-b", LONG * 5], LONG.encode() * 5 + b" ")]:
            with self.subTest(args=args):
                r = self.zarn(*args)
                expected = b"<error>non-option ARGV-elements: " + listed + b"</error>\n"
                self.assertEqual((r.out, r.err, r.status), (expected, b"", 234))

    def test_unreadable_cpu_number_stops_at_once(self):
        for args in (["-c", "abc", "-x"], ["-c", "abc", "-b"], ["--getCpuid=", "-T"],
                     ["-c", "99999999999"]):
            with self.subTest(args=args):
                r = self.zarn(*args)
                self.assertEqual((r.out, r.err, r.status), (BAD_CPU, b"", 234))

    def test_cpu_number_takes_the_leading_integer(self):
        with self.agent("--vpd-size", "128") as agent:
            self.zarn("-c", "3x", "-n", "-", "-w", "2")
            self.assertEqual(agent.requests(), [b"c 3"])


class OptionFormsTest(harness.SandboxTest):
    def test_long_options_abbreviations_and_argument_forms(self):
        forms = [["--hostIp=127.0.0.1", "--getTime"], ["--hostIp", "127.0.0.1", "-T"],
                 ["--ho=127.0.0.1", "--getTi"], ["-T", "-I127.0.0.1"],
                 ["-I", "127.0.0.1", "--getTim", "-t", "5"]]
        with self.agent("--reply", "OK", listen="127.0.0.1") as agent:
            for i, args in enumerate(forms, 1):
                with self.subTest(args=args):
                    r = self.zarn(*args, "-w", "2")
                    self.assertEqual((r.out, r.err, r.status), (b"OK\n", b"", 0))
                    self.assertEqual(agent.requests(i)[-1], b"T")

    def test_text_slots_last_writer_wins_and_long_arguments_are_cut(self):
        cases = [(["-h", "3", "-l", "7"], b"h 7\n"), (["-l", "7", "-h", "3"], b"h 3\n"),
                 (["-p", "1", "--level=2"], b"p 2\n"), (["-t", "5", "-b"], b"b"),
                 (["-D", "-a", "1.2.3.4", "-a", "5.6.7.8"], b"D 5.6.7.8\n"),
                 (["-D", "-a", LONG], (b"D " + LONG.encode())[:255]),
                 (["-h", LONG], (b"h " + LONG.encode())[:255]),
                 (["-E", "-a", "1", "-m", LONG], (b"E 1 " + LONG.encode())[:255])]
        with self.agent("--reply", "OK") as agent:
            for i, (args, request) in enumerate(cases, 1):
                with self.subTest(args=args):
                    r = self.zarn(*args, "-w", "2")
                    self.assertEqual((r.out, r.err, r.status), (b"OK\n", b"", 0))
                    self.assertEqual(agent.requests(i)[-1], request)


class SettingsTest(harness.SandboxTest):
    def test_get_zarn_port(self):
        cases = [(None, b"6789", 0), (settings_text(port=7000), b"7000", 0),
                 (settings_text(port=70000), b"4464", 0), (settings_text(port=65536), b"0", 0),
                 (settings_text(port=-1), b"65535", 0),
                 (" " * 5000 + settings_text(port=7000).replace(" ", "\0 "), b"7000", 0),
                 ("a b a9fe6502 c d 0XA9FE6503 e 6790abc", b"6790", 0),
                 (MALFORMED, STARTUP_BAD + STRICT_BAD, 185),
                 ("", STARTUP_BAD + STRICT_BAD, 185),
                 (MALFORMED + "zarn many\n", STARTUP_BAD + STRICT_BAD, 185)]
        for text, out, status in cases:
            for option in ("-O", "--getZarnPort"):
                with self.subTest(text=text, option=option):
                    if text is not None:
                        self.write_settings(text)
                    r = self.zarn(option)
                    self.assertEqual((r.out, r.err, r.status), (out, b"", status))

    def test_settings_choose_the_agent_by_number_not_text(self):
        for text in (settings_text(platform="127.0.0.1", port=6790),
                     "x 9.9.9.9 a9fe6502 y 8.8.8.8 0x7F000001 z 6790"):
            with self.subTest(text=text), self.agent("--reply", "OK", listen="127.0.0.1",
                                                     port=6790) as agent:
                self.write_settings(text)
                r = self.zarn("-T", "-w", "2")
                self.assertEqual((r.out, r.err, r.status), (b"OK\n", b"", 0))
                self.assertEqual(agent.requests(), [b"T"])

    def test_malformed_settings_at_start_up_do_not_stop_the_run(self):
        self.write_settings(MALFORMED)
        with self.agent("--reply", "OK") as agent:
            r = self.zarn("-T", "-w", "2")
            self.assertEqual((r.out, r.err, r.status), (STARTUP_BAD + b"OK\n", b"", 0))
            self.assertEqual(agent.requests(), [b"T"])
