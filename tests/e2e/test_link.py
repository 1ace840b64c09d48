"""Link driver and VPD commands: getCpuid's block capture, the getRuvo report
and configRuvo, against the agent simulator and the driver stand-in."""
import contextlib
import os
import stat

import harness
from harness import (ABNORMAL, DRIVER_NODE, MALFORMED, PLATFORM, SETTINGS, SP, STARTUP_BAD,
                     STRICT_BAD, settings_text)

CPU = 200  # its block holds both 0x00 and 0x03


def request(name, number):
    """How the stand-in logs a driver request: a read request of type 'J' with
    a 4-byte argument, whose direction bits sit lower on the PowerPC target."""
    read = 0x40000000 if harness.EMULATOR else 0x80000000
    return f"{name} {read | 4 << 16 | ord('J') << 8 | number:#x}"


SET_PLAT = request("SET_PLAT_IP_IOCTL", 31)
GET_PLAT = request("GET_PLAT_IP_IOCTL", 32)
SET_SP = request("SET_SP_IP_IOCTL", 41)


def block(cpu, size=128):
    return bytes((i + cpu) & 0xFF for i in range(size))


def remove(path):
    with contextlib.suppress(FileNotFoundError):
        os.remove(path)


def report(platform, *addresses):
    return platform.encode().ljust(25) + b"".join(a.encode() + b"\n" for a in addresses)


class LinkTest(harness.SandboxTest):
    def run_logged(self, *args, settings=None):
        """Runs zarn with `settings` as the file (None: no file) and a fresh driver log."""
        remove(self.standin_log)
        remove(SETTINGS)
        if settings is not None:
            self.write_settings(settings)
        return self.zarn(*args), self.driver_log()

    def path(self, name):
        return os.path.join(self.dir, name)


class VpdTest(LinkTest):
    def test_block_is_stored_unchanged_replacing_an_existing_file(self):
        cases = [([], CPU, "cpuid.vpd"), (["-n", "vpd.bin"], CPU, "vpd.bin"),
                 (["--filename", self.path("abs.vpd")], 0, "abs.vpd"), ([], -4, "cpuid.vpd")]
        self.assertTrue(b"\0" in block(CPU) and b"\3" in block(CPU))
        with self.agent() as agent:
            for i, (args, cpu, name) in enumerate(cases, 1):
                with self.subTest(args=args, cpu=cpu):
                    with open(self.path(name), "wb") as f:
                        f.write(b"old" * 100)
                    r = self.zarn("-c", cpu, *args, "-w", "2")
                    self.assertEqual((r.out, r.err, r.status), (b"", b"", 0))
                    with open(self.path(name), "rb") as f:
                        self.assertEqual(f.read(), block(cpu))
                    self.assertEqual(agent.requests(i)[-1], b"c %d" % cpu)

    def test_a_name_starting_with_a_dash_is_standard_output(self):
        with self.agent():
            for args in (["-n", "-"], ["-n-"], ["--filename=-vpd"]):
                with self.subTest(args=args):
                    r = self.zarn("-c", CPU, *args, "-w", "2")
                    self.assertEqual((r.out, r.err, r.status), (block(CPU), b"", 0))
                    for name in ("cpuid.vpd", "-", "-vpd"):
                        self.assertFalse(os.path.exists(self.path(name)), name)

    def test_only_a_first_read_of_exactly_128_bytes_is_accepted(self):
        wrong = b"<error>Bytes read (%d) != vpd file size</error>\n</zarn>\n"
        cases = [(["--vpd-size", "100"], wrong % 100, 254),
                 (["--vpd-size", "127"], wrong % 127, 254),
                 (["--vpd-size", "129"], wrong % 129, 254),
                 (["--vpd-size", "300"], wrong % 255, 254),
                 (["--chunk", "64"], wrong % 64, 254),
                 (["--vpd-size", "0", "--close-early"], ABNORMAL, 0)]
        for flags, out, status in cases:
            with self.subTest(flags=flags), self.agent(*flags):
                remove(self.path("cpuid.vpd"))
                r = self.zarn("-c", CPU, "-w", "2")
                self.assertEqual((r.out, r.err, r.status), (out, b"", status))
                self.assertFalse(os.path.exists(self.path("cpuid.vpd")))

    def test_output_that_cannot_be_opened_or_written(self):
        os.mknod(self.path("full"), 0o666 | stat.S_IFCHR, os.makedev(1, 7))  # a full device
        cases = [("nodir/x.vpd", b"<error>Error opening file nodir/x.vpd</error>\n</zarn>\n", 255),
                 (".", b"<error>Error opening file .</error>\n</zarn>\n", 255),
                 (self.path("full"), b"<error>Wrong # bytes written</error>\n", 251)]
        with self.agent():
            for name, out, status in cases:
                with self.subTest(name=name):
                    r = self.zarn("-c", CPU, "-n", name, "-w", "2")
                    self.assertEqual((r.out, r.err, r.status), (out, b"", status))
        self.assertFalse(os.path.exists(self.path("nodir")))


class RuvoReportTest(LinkTest):
    def test_the_driver_answer_wins_over_the_settings_file(self):
        cases = [(None, None, report(PLATFORM, SP)),
                 ("169.254.9.9", MALFORMED, STARTUP_BAD + report("169.254.9.9", SP)),
                 ("255.255.255.255", settings_text(platform="169.254.7.8"),
                  report("255.255.255.255", SP))]
        for answer, settings, out in cases:
            with self.subTest(answer=answer, settings=settings):
                self.standin = {"RUVO_STANDIN_GET": answer} if answer else {}
                r, log = self.run_logged("-j", settings=settings)
                self.assertEqual((r.out, r.err, r.status), (out, b"", 0))
                self.assertEqual(log, [f"{GET_PLAT} {answer or PLATFORM}"])

    def test_a_failed_get_falls_back_to_the_settings_file(self):
        self.standin = {"RUVO_STANDIN_GET": "fail"}
        cases = [(None, report(PLATFORM, SP), 0),
                 (settings_text(platform="169.254.7.8"), report("169.254.7.8", SP), 0),
                 ("sp 1.1.1.1 a9fe6502 p0 2.2.2.2 0xa9fe0708 zarn 1", report("169.254.7.8", SP), 0),
                 (MALFORMED, STARTUP_BAD + STRICT_BAD, 185)]
        for settings, out, status in cases:
            with self.subTest(settings=settings):
                r, log = self.run_logged("--getRuvo", settings=settings)
                self.assertEqual((r.out, r.err, r.status), (out, b"", status))
                self.assertEqual(log, [f"{GET_PLAT} failed"])

    def test_only_ipv4_addresses_labelled_exactly_ruvo0_are_listed(self):
        self.ip("addr", "add", "169.254.102.7/24", "dev", "ruvo0")
        self.ip("addr", "add", "169.254.101.5/24", "dev", "ruvo0")
        self.ip("addr", "add", "169.254.101.9/24", "dev", "ruvo0", "label", "ruvo0:1")
        self.ip("link", "add", "ruvo01", "type", "veth", "peer", "name", "ruvo02")
        self.ip("addr", "add", "169.254.103.1/24", "dev", "ruvo01")
        self.ip("link", "set", "ruvo01", "up")
        r = self.zarn("-j")
        self.assertEqual((r.out, r.err, r.status),
                         (report(PLATFORM, SP, "169.254.102.7", "169.254.101.5"), b"", 0))

    def test_ruvo0_without_an_ipv4_address(self):
        self.ip("addr", "flush", "dev", "ruvo0")
        r = self.zarn("-j")
        self.assertEqual((r.out, r.err, r.status), (PLATFORM.encode().ljust(25), b"", 0))


class ConfigRuvoTest(LinkTest):
    def test_pushes_the_platform_then_the_sp_address_from_the_numbers(self):
        cases = [(None, PLATFORM, SP),
                 (settings_text(sp="169.254.50.2", platform="169.254.50.3"),
                  "169.254.50.3", "169.254.50.2"),
                 ("sp 1.1.1.1 0xa9fe3202 p0 2.2.2.2 a9fe3203 zarn 6789",
                  "169.254.50.3", "169.254.50.2")]
        for settings, platform, sp in cases:
            with self.subTest(settings=settings):
                r, log = self.run_logged("--configRuvo", settings=settings)
                self.assertEqual((r.out, r.err, r.status), (b"", b"", 0))
                self.assertEqual(log, [f"{SET_PLAT} {platform}", f"{SET_SP} {sp}"])

    def test_a_failed_request_ends_the_push(self):
        plat_failed = b"RUVO_CONFIG: ioctl SET_PLAT_IP_IOCTL failed -1\n"
        cases = [("SET_PLAT_IP_IOCTL", plat_failed, [f"{SET_PLAT} {PLATFORM}"]),
                 ("SET_SP_IP_IOCTL", b"RUVO_CONFIG: ioctl SET_SP_IP_IOCTL failed -1\n",
                  [f"{SET_PLAT} {PLATFORM}", f"{SET_SP} {SP}"])]
        for failing, err, expected_log in cases:
            with self.subTest(failing=failing):
                self.standin = {"RUVO_STANDIN_FAIL": failing}
                r, log = self.run_logged("--configRuvo")
                self.assertEqual((r.out, r.err, r.status), (b"", err, 255))
                self.assertEqual(log, expected_log)

    def test_a_malformed_settings_file_touches_no_driver(self):
        r, log = self.run_logged("--configRuvo", settings=MALFORMED)
        self.assertEqual((r.out, r.err, r.status, log), (STARTUP_BAD + STRICT_BAD, b"", 185, []))

    def test_acts_where_it_stands_and_parses_nothing_after(self):
        cases = [["--configRuvo", "-Z"], ["--configRuvo", "-T"], ["-T", "--configRuvo"],
                 ["-b", "-b", "--conf", "stray", "-c"], ["stray", "--configRuvo"]]
        with self.agent("--reply", "OK") as agent:
            for args in cases:
                with self.subTest(args=args):
                    r, log = self.run_logged(*args)
                    self.assertEqual((r.out, r.err, r.status), (b"", b"", 0))
                    self.assertEqual(log, [f"{SET_PLAT} {PLATFORM}", f"{SET_SP} {SP}"])
            r, log = self.run_logged("-c", "abc", "--configRuvo")
            self.assertEqual((r.out, r.status, log), (b"<error>Invalid cpu #</error>\n", 234, []))
            self.assertEqual(agent.lines(), [])


class DriverNodeTest(LinkTest):
    def test_driver_node_absent(self):
        os.remove(DRIVER_NODE)
        for args, err in [(["--configRuvo"], b"RUVO_CONFIG: unable to open driver %s\n"),
                          (["-j"], b"ZARN: failed top open the driver %s\n")]:
            with self.subTest(args=args):
                r, log = self.run_logged(*args)
                self.assertEqual((r.out, r.err, r.status, log),
                                 (b"", err % DRIVER_NODE.encode(), 254, []))
