"""Command line: usage, the one-command rule, option forms, text slots, settings, -O, --version."""
import os
import re

import harness
from harness import (BAD_CPU, BAD_PORT, MALFORMED, PLATFORM, STARTUP_BAD, STRICT_BAD, WRONG_COUNT,
                     settings_text)


def listing(words):
    """The usage's lines for "LETTER NAME ..." pairs."""
    pairs = words.split()
    return "".join(f"      -{letter}    --{name}\n" for letter, name in zip(pairs[::2], pairs[1::2]))


USAGE = ("Usage: zarn -<command> -[parameters]\n  where command is:\n" + listing(
    "b reboot B forcedReboot c getCpuid C getTemp D setdns d getdns E setip e getip f forcedShutdown "
    "H getHost h hbpoll J setRuvo j getRuvo L getversion o setZarnPort O getZarnPort p mcpoll "
    "s shutdown T getTime v getfeatures ? help") + "  and parameters are:\n" + listing(
    "a addr n filename g gateway I hostIp m mask i interface l level t metric") +
    "\n\nexamples:\n  zarn_sp -b\n\tThis will cause the platform OS to reboot.\n\n"
    "  zarn_sp -SET_RUVO_IP -a 192.168.1.1 -g 192.168.1.254\n"
    "\tThis informs the platform side that the platform address should\n"
    "\tbe 192.168.1.1, and the SP side address is 192.168.1.254\n\n").encode()
LONG = "".join(chr(ord("a") + i % 26) for i in range(300))
with open(os.path.join(os.path.dirname(__file__), "..", "..", "CMakeLists.txt")) as _f:
    VERSION = re.search(r"project\(zarn VERSION (\S+)", _f.read())[1]


class CommandLineTest(harness.SandboxTest):
    def test_usage_and_parser_complaints_on_stderr_and_the_version_where_it_stands_with_status_0(self):
        bad_x = b"invalid option -- 'x'"
        cases = [(["-?"], None), (["--help"], None), (["--he"], None), (["-x"], bad_x),
                 (["-T", "-x"], bad_x), (["-b", "-b", "-x"], bad_x),
                 (["-c"], b"option requires an argument -- 'c'"),
                 (["-T", "-I"], b"option requires an argument -- 'I'"),
                 (["--hostIp"], b"option '--hostIp' requires an argument"),
                 (["--nosuch"], b"unrecognized option '--nosuch'"),
                 (["--reboot=3"], b"option '--reboot' doesn't allow an argument"),
                 (["--getT"], b"option '--getT' is ambiguous; possibilities: '--getTemp' '--getTime'")]
        cases = [(args, b"", (b"%s: %s\n" % (harness.ZARN.encode(), c) if c else b"") + USAGE) for args, c in cases]
        cases += [(args, f"zarn {VERSION}\n".encode(), b"")
                  for args in (["--version"], ["--vers"], ["-T", "--version", "-Z"], ["stray", "--v"])]
        for args, out, err in cases:
            with self.subTest(args=args):
                self.assertEqual(self.zarn(*args)[:3], (out, err, 0))

    def test_refusals_with_status_234(self):
        stray = b"<error>non-option ARGV-elements: %s</error>\n"
        cases = [(args, WRONG_COUNT) for args in (
            [], ["-b", "-s"], ["-b", "-b"], ["-t", "5"], ["--reboot", "-b"], ["stray"],
            ["-a", "1.2.3.4", "-l", "3"])]
        cases += [(args, BAD_CPU) for args in (
            ["-c", "abc", "-x"], ["-c", "abc", "-b"], ["--getCpuid=", "-T"], ["-c", "99999999999"])]
        cases += [(["-b", "extra", "words"], stray % b"extra words "),
                  (["extra", "-b", "words"], stray % b"extra words "),
                  (["-I", PLATFORM, "x", "-T"], stray % b"x "),
                  (["-b", LONG * 5], stray % (LONG.encode() * 5 + b" "))]
        for args, out in cases:
            with self.subTest(args=args):
                self.assertEqual(self.zarn(*args)[:3], (out, b"", 234))

    def test_option_forms_and_text_slots_make_the_request(self):
        """Long options, their abbreviations and argument forms name the agent and the command;
        in a text slot the last writer wins, and a long argument is cut."""
        forms = [["--hostIp=127.0.0.1", "--getTime"], ["--hostIp", "127.0.0.1", "-T"],
                 ["--ho=127.0.0.1", "--getTi"], ["-T", "-I127.0.0.1"], ["-I", "127.0.0.1", "--getTim", "-t", "5"]]
        slots = [(["-h", "3", "-l", "7"], b"h 7\n"), (["-l", "7", "-h", "3"], b"h 3\n"),
                 (["-p", "1", "--level=2"], b"p 2\n"), (["-t", "5", "-b"], b"b"),
                 (["-D", "-a", "1.2.3.4", "-a", "5.6.7.8"], b"D 5.6.7.8\n"),
                 (["-D", "-a", LONG], (b"D " + LONG.encode())[:255]),
                 (["-h", LONG], (b"h " + LONG.encode())[:255]),
                 (["-h", LONG[:253]], b"h " + LONG[:253].encode()),  # one byte too many
                 (["-E", "-a", "1", "-m", LONG], (b"E 1 " + LONG.encode())[:255])]
        cases = [(args, b"T") for args in forms] + [(args + ["-I", "127.0.0.1"], req) for args, req in slots]
        with self.agent("--reply", "OK", listen="127.0.0.1") as agent:
            for i, (args, request) in enumerate(cases, 1):
                with self.subTest(args=args):
                    self.assertEqual((*self.zarn(*args, "-w", "2")[:3], agent.requests(i)[-1]),
                                     (b"OK\n", b"", 0, request))

    def test_get_zarn_port(self):
        cases = [(None, b"6789", 0), (settings_text(port=7000), b"7000", 0),
                 (settings_text(port=70000), b"4464", 0), (settings_text(port=65536), b"0", 0),
                 (settings_text(port=-1), b"65535", 0),
                 (" " * 5000 + settings_text(port=7000).replace(" ", "\0 "), b"7000", 0),
                 ("a b a9fe6502 c d 0XA9FE6503 e 6790abc", b"6790", 0)]
        cases += [(text, STARTUP_BAD + STRICT_BAD, 185) for text in (MALFORMED, "", MALFORMED + "zarn many\n")]
        for text, out, status in cases:
            for option in ("-O", "--getZarnPort"):
                with self.subTest(text=text, option=option):
                    harness.remove(harness.SETTINGS) if text is None else self.write_settings(text)
                    self.assertEqual(self.zarn(option)[:3], (out, b"", status))

    def test_the_agent_is_chosen_by_the_settings_numbers_or_the_defaults_and_its_port_checked(self):
        cases = [(settings_text(platform="127.0.0.1", port=6790), "127.0.0.1", 6790, b"OK\n"),
                 ("x 9.9.9.9 a9fe6502 y 8.8.8.8 0x7F000001 z 6790", "127.0.0.1", 6790, b"OK\n"),
                 (MALFORMED, PLATFORM, 6789, STARTUP_BAD + b"OK\n"),
                 (settings_text(port=1), PLATFORM, 1, b"OK\n"),
                 (settings_text(port=65535), PLATFORM, 65535, b"OK\n")]
        cases += [(settings_text(port=port), PLATFORM, 6789, BAD_PORT) for port in (0, 65536, -1, 100000)]
        for text, listen, port, out in cases:
            with self.subTest(text=text), self.agent("--reply", "OK", listen=listen, port=port) as agent:
                self.write_settings(text)
                refused = out == BAD_PORT
                self.assertEqual((*self.zarn("-T", "-w", "2")[:3], agent.requests(0 if refused else 1)),
                                 (out, b"", 242 if refused else 0, [] if refused else [b"T"]))
