"""Driver and VPD commands: getCpuid's block, the getRuvo report and configRuvo."""
import os
import stat

import harness
from harness import (ABNORMAL, BAD_CPU, DRIVER_NODE, MALFORMED, PLATFORM, SETTINGS, SP,
                     STARTUP_BAD, STRICT_BAD, remove, settings_text, write)

CPU = 200  # its block holds both 0x00 and 0x03


# The stand-in's log of each 'J' read request with a 4-byte argument; the direction bits sit lower
# on the PowerPC target.
READ = 0x40000000 if harness.EMULATOR else 0x80000000
SET_PLAT, GET_PLAT, SET_SP = (f"{name}_IP_IOCTL {READ | 4 << 16 | ord('J') << 8 | number:#x}"
                              for name, number in (("SET_PLAT", 31), ("GET_PLAT", 32), ("SET_SP", 41)))
PUSHED = [f"{SET_PLAT} {PLATFORM}", f"{SET_SP} {SP}"]


def block(cpu):
    return bytes((i + cpu) & 0xFF for i in range(128))


def report(platform, *addresses):
    return platform.encode().ljust(25) + b"".join(a.encode() + b"\n" for a in addresses)


class LinkTest(harness.SandboxTest):
    def run_logged(self, *args, settings=None):
        """Runs zarn with `settings` as the file (None: no file) and a fresh driver log."""
        remove(self.standin_log)
        remove(SETTINGS) if settings is None else write(SETTINGS, settings)
        return self.zarn(*args), self.driver_log()

    def test_block_goes_to_standard_output_or_replaces_the_file(self):
        cases = [(["-n", "-"], CPU, None), (["-n-"], CPU, None), (["--filename=-vpd"], CPU, None),
                 ([], CPU, "cpuid.vpd"), (["-n", "vpd.bin"], CPU, "vpd.bin"),
                 (["--filename", self.path("abs.vpd")], 0, "abs.vpd"), ([], -4, "cpuid.vpd")]
        with self.agent() as agent:
            for i, (args, cpu, name) in enumerate(cases, 1):
                with self.subTest(args=args, cpu=cpu):
                    if name:
                        write(self.path(name), "old" * 100)
                    self.assertEqual(self.zarn("-c", cpu, *args, "-w", "2")[:3],
                                     (b"" if name else block(cpu), b"", 0))
                    self.assertEqual(agent.requests(i)[-1], b"c %d" % cpu)
                    if name:
                        with open(self.path(name), "rb") as f:
                            self.assertEqual(f.read(), block(cpu))
                    else:
                        self.assertFalse({"cpuid.vpd", "-", "-vpd"} & set(os.listdir(self.dir)))

    def test_only_a_first_read_of_exactly_128_bytes_is_accepted(self):
        wrong = b"<error>Bytes read (%d) != vpd file size</error>\n</zarn>\n"
        cases = [(["--vpd-size", n], wrong % min(n, 255), 254) for n in (100, 127, 129, 300)]
        cases += [(["--chunk", "64"], wrong % 64, 254),
                  (["--vpd-size", "0", "--close-early"], ABNORMAL, 0)]
        for flags, out, status in cases:
            with self.subTest(flags=flags), self.agent(*flags):
                remove(self.path("cpuid.vpd"))
                self.assertEqual(self.zarn("-c", CPU, "-w", "2")[:3], (out, b"", status))
                self.assertFalse(os.path.exists(self.path("cpuid.vpd")))

    def test_output_that_cannot_be_opened_or_written(self):
        os.mknod(self.path("full"), 0o666 | stat.S_IFCHR, os.makedev(1, 7))  # a full device
        unopened = b"<error>Error opening file %s</error>\n</zarn>\n"
        cases = [("nodir/x.vpd", unopened % b"nodir/x.vpd", 255), (".", unopened % b".", 255),
                 (self.path("full"), b"<error>Wrong # bytes written</error>\n", 251)]
        with self.agent():
            for name, out, status in cases:
                with self.subTest(name=name):
                    self.assertEqual(self.zarn("-c", CPU, "-n", name, "-w", "2")[:3], (out, b"", status))
        self.assertFalse(os.path.exists(self.path("nodir")))

    def test_the_driver_answer_else_the_settings_file_names_the_platform(self):
        moved = settings_text(platform="169.254.7.8")
        by_number = "sp 1.1.1.1 a9fe6502 p0 2.2.2.2 0xa9fe0708 zarn 1"
        cases = [  # the driver's answer, settings file, out, status
            (None, None, report(PLATFORM, SP), 0),
            ("169.254.9.9", MALFORMED, STARTUP_BAD + report("169.254.9.9", SP), 0),
            ("255.255.255.255", moved, report("255.255.255.255", SP), 0),
            ("fail", None, report(PLATFORM, SP), 0),
            ("fail", moved, report("169.254.7.8", SP), 0),
            ("fail", by_number, report("169.254.7.8", SP), 0),
            ("fail", MALFORMED, STARTUP_BAD + STRICT_BAD, 185)]
        for answer, settings, out, status in cases:
            with self.subTest(answer=answer, settings=settings):
                failed = answer == "fail"
                self.standin = {"RUVO_STANDIN_GET": answer} if answer else {}
                r, log = self.run_logged("--getRuvo" if failed else "-j", settings=settings)
                self.assertEqual((*r[:3], log),
                                 (out, b"", status, [f"{GET_PLAT} {'failed' if failed else answer or PLATFORM}"]))

    def test_only_ipv4_addresses_labelled_exactly_ruvo0_are_listed(self):
        self.ip("link", "add", "ruvo01", "type", "veth", "peer", "name", "ruvo02")
        self.ip("addr", "add", "169.254.103.1/24", "dev", "ruvo01")
        self.ip("link", "set", "ruvo01", "up")
        for address, label in [("169.254.102.7", "ruvo0"), ("169.254.101.5", "ruvo0"),
                               ("169.254.101.9", "ruvo0:1")]:
            self.ip("addr", "add", f"{address}/24", "dev", "ruvo0", "label", label)
        runs = [self.zarn("-j")]
        self.ip("addr", "flush", "dev", "ruvo0")
        runs += [self.zarn("-j"), self.zarn("-j", preload=(harness.CRASH_LIB,), env={"ZARN_FAIL": "socket"})]
        self.assertEqual([(r.out, r.err, r.status) for r in runs], [
            (report(PLATFORM, SP, "169.254.102.7", "169.254.101.5"), b"", 0), (report(PLATFORM), b"", 0),
            (report(PLATFORM) + b"<error>Unable to get ip addresses</error>", b"", 242)])

    def test_pushes_the_platform_then_the_sp_address_from_the_numbers(self):
        pushed_50 = [f"{SET_PLAT} 169.254.50.3", f"{SET_SP} 169.254.50.2"]
        failed = b"RUVO_CONFIG: ioctl %s failed -1\n"
        cases = [  # settings file, failing request, out, err, status, driver log
            (None, None, b"", b"", 0, PUSHED),
            (settings_text(sp="169.254.50.2", platform="169.254.50.3"), None, b"", b"", 0, pushed_50),
            ("sp 1.1.1.1 0xa9fe3202 p0 2.2.2.2 a9fe3203 zarn 6789", None, b"", b"", 0, pushed_50),
            (None, "SET_PLAT_IP_IOCTL", b"", failed % b"SET_PLAT_IP_IOCTL", 255, PUSHED[:1]),
            (None, "SET_SP_IP_IOCTL", b"", failed % b"SET_SP_IP_IOCTL", 255, PUSHED),
            (MALFORMED, None, STARTUP_BAD + STRICT_BAD, b"", 185, [])]
        for settings, failing, out, err, status, driver in cases:
            with self.subTest(settings=settings, failing=failing):
                self.standin = {"RUVO_STANDIN_FAIL": failing} if failing else {}
                r, log = self.run_logged("--configRuvo", settings=settings)
                self.assertEqual((r.out, r.err, r.status, log), (out, err, status, driver))

    def test_acts_where_it_stands_and_parses_nothing_after(self):
        cases = [["--configRuvo", "-Z"], ["--configRuvo", "-T"], ["-T", "--configRuvo"],
                 ["-b", "-b", "--conf", "stray", "-c"], ["stray", "--configRuvo"]]
        with self.agent("--reply", "OK") as agent:
            for args in cases:
                with self.subTest(args=args):
                    r, log = self.run_logged(*args)
                    self.assertEqual((r.out, r.err, r.status, log), (b"", b"", 0, PUSHED))
            r, log = self.run_logged("-c", "abc", "--configRuvo")
            self.assertEqual((r.out, r.status, log, agent.lines()), (BAD_CPU, 234, [], []))

    def test_driver_node_absent(self):
        os.remove(DRIVER_NODE)
        self.assertEqual([(*self.zarn(arg)[:3], self.driver_log()) for arg in ("--configRuvo", "-j")], [
            (b"", b"RUVO_CONFIG: unable to open driver %s\n" % DRIVER_NODE.encode(), 254, []),
            (b"", b"ZARN: failed top open the driver %s\n" % DRIVER_NODE.encode(), 254, [])])
