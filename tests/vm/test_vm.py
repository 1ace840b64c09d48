"""zarn on the virtual SP (standins/sp-vm): a booted PowerPC kernel, the ruvo
driver as a kernel module, /pstore and /etc on UBIFS over flash, and the
agent simulator across the link's two NICs. The commands, then power cuts at
every system call of the saves, run on two machines booted side by side,
once, before the tests look at what they reported. Cuts while a save writes the
hosts table's journal are each followed by an administrator's edit of the
table before the save runs again."""
import concurrent.futures
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "e2e"), os.path.join(HERE, "..", "..", "standins", "sp-vm")]
import harness  # noqa: E402
import vm  # noqa: E402
from harness import ALIAS, CONFIRM, DONE, PLATFORM, SETTINGS, SP, settings_text  # noqa: E402
from test_link import block, report  # noqa: E402

NEW = "169.254.101.4"  # the platform side's spare address
FAIL = "/sys/module/ruvo/parameters/fail"
SCRIPTS_PATH = "/usr/sbin:/usr/bin:/sbin:/bin"
HOSTS = "127.0.0.1\tlocalhost\n10.20.30.40\tbuildhost.example.test buildhost\n"
OLD_HOSTS = HOSTS.replace("\n", f"\n169.254.7.3\t{ALIAS} old\n", 1)
TIME = rb"<time>\d{4}-\d\d-\d\d \d\d:\d\d:\d\d</time>\n"
LOGGED = r"<29>zarn\[\d+\]: {} \(uid 0, parent \S+\)"


def hosts_after(address):
    return HOSTS + f"{address}  {ALIAS}\n"


def driver(name, number, address):
    """The module's log line: the request as the PowerPC kernel encodes _IOR('J', number, 4 bytes)."""
    return f"{name} {0x40000000 | 4 << 16 | ord('J') << 8 | number:#x} {address}"


def set_plat(address):
    return driver("SET_PLAT_IP_IOCTL", 31, address)


def get_plat(address):
    return driver("GET_PLAT_IP_IOCTL", 32, address)


def set_sp(address):
    return driver("SET_SP_IP_IOCTL", 41, address)


def requests(log):
    """The request bytes of each connection in a simulator's log."""
    return [harness.unescape(line.split("\t")[2]) for line in log.decode().splitlines()]


class VmTest(unittest.TestCase):
    facts = None  # what the boot reported, set by setUpModule

    def assertRan(self, step, out, err=b"", status=0):
        r = self.facts.run(step)
        self.assertEqual((r.out, r.err, r.status), (out, err, status))

    def lines(self, step):
        return self.facts.data(step, "lines").decode().splitlines()


class RemoteTest(VmTest):
    CASES = [([f"-{c}"], c.encode()) for c in "bCdeHLsTv"] + [
        (["-D", "-a", "10.0.0.1"], b"D 10.0.0.1\n"),
        (["-E", "-a", "10.0.0.1", "-m", "255.255.255.0", "-g", "10.0.0.254"],
         b"E 10.0.0.1 255.255.255.0 10.0.0.254"),
        (["-h", "5"], b"h 5\n"), (["-p", "9"], b"p 9\n"), (["-o", "7000"], b"o 7000")]
    FORCED = [(["-f"], b"f"), (["-B"], b"B")]

    @classmethod
    def add_steps(cls, plan):
        plan.agent("--listen", PLATFORM, "--reply", "OK", "--keep-port", "--log", "/tmp/remote.log")
        cls.runs = [plan.run("zarn", *args, "-w", "2") for args, _ in cls.CASES + cls.FORCED]
        cls.log = plan.show("/tmp/remote.log")
        plan.stop_agents()
        plan.agent("--listen", PLATFORM)
        cls.time = plan.run("zarn", "-T")
        cls.vpd_out = plan.run("zarn", "-c", "200", "-n", "-")
        cls.vpd_file = plan.run("zarn", "-c", "7")
        cls.vpd_saved = plan.show("/tmp/cpuid.vpd")
        plan.stop_agents()
        cls.nobody = plan.run("zarn", "-T", "-w", "2")

    def test_each_remote_command_sends_its_request_and_relays_the_reply(self):
        for (args, _), step in zip(self.CASES, self.runs):
            with self.subTest(args=args):
                self.assertRan(step, b"OK\n")
        for (args, _), step in zip(self.FORCED, self.runs[len(self.CASES):]):
            with self.subTest(args=args):
                self.assertRan(step, DONE)
        self.assertEqual(requests(self.facts.file(self.log)),
                         [request for _, request in self.CASES + self.FORCED])

    def test_time_and_vpd_blocks_from_the_simulator(self):
        self.assertRegex(self.facts.run(self.time).out, TIME)
        self.assertRan(self.vpd_out, block(200))
        self.assertRan(self.vpd_file, b"")
        self.assertEqual(self.facts.file(self.vpd_saved), block(7))

    def test_nothing_listening(self):
        r = self.facts.run(self.nobody)
        self.assertEqual((r.out, r.status), (b"", 242))
        self.assertIn(r.err, (b"", harness.REFUSED))


class DriverTest(VmTest):
    """The requests reach the ruvo module through the kernel."""
    FILE = settings_text(sp="169.254.50.2", platform="169.254.50.3")
    FAILED = b"RUVO_CONFIG: ioctl %s failed -1\n"

    @classmethod
    def add_steps(cls, plan):
        plan.remove(SETTINGS)
        plan.driver_log()
        cls.get = plan.run("zarn", "-j"), plan.driver_log()
        cls.push_defaults = plan.run("zarn", "--configRuvo"), plan.driver_log()
        plan.write(SETTINGS, cls.FILE)
        cls.push_file = plan.run("zarn", "--configRuvo"), plan.driver_log()
        cls.get_pushed = plan.run("zarn", "-j"), plan.driver_log()
        cls.port = plan.run("zarn", "-O")
        cls.failing = {}
        for name in ("SET_PLAT_IP_IOCTL", "SET_SP_IP_IOCTL"):
            plan.write(FAIL, name)
            cls.failing[name] = plan.run("zarn", "--configRuvo"), plan.driver_log()
        plan.write(FAIL, "GET_PLAT_IP_IOCTL")
        plan.write(SETTINGS, settings_text(platform="169.254.7.8"))
        cls.failing["GET_PLAT_IP_IOCTL"] = plan.run("zarn", "-j"), plan.driver_log()
        plan.write(FAIL, "\n")
        plan.remove(SETTINGS)
        plan.run("zarn", "--configRuvo")

    def test_get_answers_the_platform_address_the_driver_holds(self):
        self.assertRan(self.get[0], report(PLATFORM, SP))
        self.assertEqual(self.lines(self.get[1]), [get_plat(PLATFORM)])

    def test_configruvo_pushes_the_platform_then_the_sp_address(self):
        self.assertRan(self.push_defaults[0], b"")
        self.assertEqual(self.lines(self.push_defaults[1]), [set_plat(PLATFORM), set_sp(SP)])
        self.assertRan(self.push_file[0], b"")
        self.assertEqual(self.lines(self.push_file[1]),
                         [set_plat("169.254.50.3"), set_sp("169.254.50.2")])
        self.assertRan(self.get_pushed[0], report("169.254.50.3", SP))
        self.assertEqual(self.lines(self.get_pushed[1]), [get_plat("169.254.50.3")])
        self.assertRan(self.port, b"6789")

    def test_a_failing_request_is_reported_and_ends_the_push(self):
        run, log = self.failing["SET_PLAT_IP_IOCTL"]
        self.assertRan(run, b"", self.FAILED % b"SET_PLAT_IP_IOCTL", 255)
        self.assertEqual(self.lines(log), [set_plat("169.254.50.3")])
        run, log = self.failing["SET_SP_IP_IOCTL"]
        self.assertRan(run, b"", self.FAILED % b"SET_SP_IP_IOCTL", 255)
        self.assertEqual(self.lines(log), [set_plat("169.254.50.3"), set_sp("169.254.50.2")])
        run, log = self.failing["GET_PLAT_IP_IOCTL"]
        self.assertRan(run, report("169.254.7.8", SP))  # from the settings file
        self.assertEqual(self.lines(log), [get_plat("failed")])


class SaveTest(VmTest):
    """Saves onto UBIFS: the settings file, the hosts table, the scripts."""

    @classmethod
    def add_steps(cls, plan):
        plan.remove(SETTINGS)
        plan.write("/etc/hosts", OLD_HOSTS)
        plan.agent("--listen", "0.0.0.0", "--log", "/tmp/save.log")
        plan.system_log()
        cls.port_save = plan.run("zarn", "-o", "7100", "-w", "5")
        cls.port_log = plan.system_log()
        cls.port_files = [plan.show(SETTINGS), plan.show("/etc/hosts"), plan.list("/pstore"),
                          plan.show("/tmp/scripts.log")]
        cls.moved = plan.run("zarn", "-T", "-w", "2")
        plan.remove("/tmp/scripts.log")
        plan.driver_log()
        cls.readdress = plan.run("zarn", "-J", "-a", NEW, "-g", SP, "-w", "5"), plan.driver_log()
        cls.readdress_log = plan.system_log()
        cls.readdress_files = [plan.show(SETTINGS), plan.show("/etc/hosts"),
                               plan.show("/tmp/scripts.log")]
        cls.readdressed = plan.run("zarn", "-j"), plan.run("zarn", "-T", "-w", "2")
        cls.log = plan.show("/tmp/save.log")
        plan.bind("/etc/hosts")
        cls.in_place = plan.run("zarn", "-J", "-a", PLATFORM, "-g", SP, "-w", "5")
        cls.in_place_files = [plan.show("/etc/hosts"), plan.list("/etc")]
        plan.stop_agents()

    def test_a_confirmed_port_is_saved_then_used(self):
        self.assertRan(self.port_save, CONFIRM)
        settings, hosts, pstore, scripts = self.port_files
        self.assertEqual(self.facts.file(settings), settings_text(port=7100).encode())
        self.assertEqual(self.facts.file(hosts), hosts_after(PLATFORM).encode())
        self.assertEqual(self.facts.data(pstore, "names"), b"ruvo_config\nzarn.lock\n")
        self.assertEqual(self.facts.file(scripts).decode().splitlines(),
                         [f"{name} 0 3 1 {SCRIPTS_PATH}" for name in ("spIpConfig.sh", "addHosts.sh")])
        self.assertRegex(self.facts.run(self.moved).out, TIME)

    def test_a_confirmed_port_save_is_logged(self):
        saved = rf"saved the link settings and the hosts table: platform \S+ -> {PLATFORM}, " \
                rf"sp \S+ -> {SP}, port 6789 -> 7100"
        self.assertLogged(self.port_log, [saved])

    def test_readdressing_is_logged_before_and_after_the_save(self):
        self.assertLogged(self.readdress_log, [
            f"re-addressing the link to platform {NEW}, sp {SP}: request sent to {PLATFORM} port 7100",
            f"saved the link settings and the hosts table: platform {PLATFORM} -> {NEW}, "
            f"sp {SP} -> {SP}, port 7100 -> 7100",
            f"gave the driver platform {NEW}, sp {SP}"])

    def assertLogged(self, step, messages):
        lines = self.lines(step)
        self.assertEqual(len(lines), len(messages), lines)
        for line, message in zip(lines, messages):
            self.assertRegex(line, "^" + LOGGED.format(message.replace(".", r"\.")) + "$")

    def test_readdressing_tells_the_agent_saves_and_reconfigures_the_driver(self):
        run, log = self.readdress
        self.assertRan(run, DONE)
        self.assertEqual(self.lines(log), [set_plat(PLATFORM), set_plat(NEW), set_sp(SP)])
        settings, hosts, scripts = self.readdress_files
        self.assertEqual(self.facts.file(settings), settings_text(platform=NEW, port=7100).encode())
        self.assertEqual(self.facts.file(hosts), hosts_after(NEW).encode())
        self.assertEqual(len(self.facts.file(scripts).splitlines()), 2)
        self.assertEqual(requests(self.facts.file(self.log))[:3],
                         [b"o 7100", b"T", f"J p={NEW} s={SP}".encode()])
        report_step, time_step = self.readdressed
        self.assertRan(report_step, report(NEW, SP))
        self.assertRegex(self.facts.run(time_step).out, TIME)

    def test_a_bind_mounted_table_is_rewritten_in_place(self):
        self.assertRan(self.in_place, DONE)
        hosts, etc = self.in_place_files
        self.assertEqual(self.facts.file(hosts), hosts_after(PLATFORM).encode())
        self.assertEqual(self.facts.data(etc, "names"), b"hosts\n")


class Cut:
    """A save and the versions of both files before and after it."""

    def __init__(self, mode, args, new_settings, new_hosts, out):
        self.mode, self.args, self.out = mode, args, out
        self.old = [settings_text(), OLD_HOSTS]
        self.new = [new_settings, new_hosts]


class PowerCuts:
    """Each cut must leave the volumes mountable and each file old or new; on
    the in-place path the hosts table must be new once the next save has run.
    The next save must succeed whatever the cut left."""
    MODE = None  # where the hosts table stands (init/flash.h): rename, in-place or read-only
    TABLE = "/etc/hosts"  # the file that holds it

    @classmethod
    def cuts(cls):
        return {f"{name} {cls.MODE}": Cut(cls.MODE, args, new, hosts, out)
                for name, args, new, hosts, out in [
                    ("-o", ["-o", "7000"], settings_text(port=7000), hosts_after(PLATFORM), CONFIRM),
                    ("-J", ["-J", "-a", NEW, "-g", SP], settings_text(platform=NEW), hosts_after(NEW),
                     DONE)]}

    @classmethod
    def add_steps(cls, plan):
        for port in (6789, 7000):  # the old port and the one -o saves
            plan.agent("--listen", "0.0.0.0", "--port", port, "--keep-port")
        cls.steps = {}
        for name, cut in cls.cuts().items():
            plan.write(SETTINGS, cut.old[0])
            plan.write(cls.TABLE, cut.old[1])
            cls.steps[name] = plan.cut(cut.mode, "zarn", *cut.args, "-w", "5")
        plan.stop_agents()

    @classmethod
    def figures(cls, name):
        """The points tried and, for each, what the cut left and what the next save left."""
        step = cls.steps[name]
        after_cut, after_next = ([dict(field.split("=") for field in line.split()[1:])
                                  for line in cls.facts.values(step, key)] for key in ("cut", "next"))
        return len(after_cut), after_cut, after_next

    def test_every_cut_leaves_each_file_old_or_new_and_the_next_save_succeeds(self):
        for name, cut in self.cuts().items():
            step = self.steps[name]
            with self.subTest(cut=name):
                self.assertEqual(self.facts.values(step, "error"), [])
                self.assertEqual((int(self.facts.value(step, "status")), self.facts.data(step, "out")),
                                 (0, cut.out))
                self.assertEqual([bytes.fromhex(v).decode() for v in self.facts.values(step, "old")],
                                 cut.old)
                self.assertEqual([bytes.fromhex(v).decode() for v in self.facts.values(step, "new")],
                                 cut.new)
                points, after_cut, after_next = self.figures(name)
                self.assertEqual(int(self.facts.value(step, "points")), points)
                self.assertGreater(points, 20)
                self.assertEqual({c["mounted"] for c in after_cut}, {"yes"})
                self.assertLessEqual({c["settings"] for c in after_cut}, {"old", "new"})
                if cut.mode == "rename":
                    self.assertLessEqual({c["hosts"] for c in after_cut}, {"old", "new"})
                self.assertEqual([(n["status"], n["settings"], n["hosts"]) for n in after_next],
                                 [("0", "new", "new")] * points)
                self.assertEqual({bytes.fromhex(v) for v in self.facts.values(step, "next-out")},
                                 {cut.out})


class RenameCutTest(PowerCuts, VmTest):
    MODE = "rename"


class InPlaceCutTest(PowerCuts, VmTest):
    MODE = "in-place"


class ReadOnlyEtcCutTest(PowerCuts, VmTest):
    MODE = "read-only"
    TABLE = "/pstore/hosts"


class JournalCutTest(VmTest):
    """Power cuts while -J writes and commits the journal of the table's
    in-place rewrite, from the creation of its temporary to the sync of
    /pstore after the rename, each followed by an administrator's edit of the
    table. A journal the cut left committed no longer fits the table: it must
    be set aside, never applied over the edit. The save after the edit and
    the next one succeed, each file new with the edit kept, and leave nothing
    behind but the set-aside journal."""
    JOURNAL = "/pstore/hosts.zarn-journal"
    EDIT = "10.9.9.9\tadmin-edit\n"
    SET_ASIDE = rb"ZARN: journal /pstore/hosts\.zarn-journal .*: the file was changed since\n"
    TABLES = {"in-place": "/etc/hosts", "read-only": "/pstore/hosts"}  # what holds the table
    LEFT = {"in-place": ["ruvo_config", "zarn.lock"],  # in /pstore, besides a set-aside journal
            "read-only": ["hosts", "ruvo_config", "zarn.lock"]}

    @classmethod
    def add_steps(cls, plan):
        plan.agent("--listen", "0.0.0.0", "--keep-port")
        cls.steps = {}
        for mode, table in cls.TABLES.items():
            plan.write(SETTINGS, settings_text())
            plan.write(table, OLD_HOSTS)
            cls.steps[mode] = plan.cut_journal(mode, cls.JOURNAL, cls.EDIT,
                                               "zarn", "-J", "-a", NEW, "-g", SP, "-w", "5")
        plan.stop_agents()

    @classmethod
    def figures(cls, mode):
        """Per cut: what it left, what the save after the edit left, what the next save left."""
        step = cls.steps[mode]
        return [[dict(field.split("=") for field in line.split()[1:])
                 for line in cls.facts.values(step, key)] for key in ("cut", "next", "again")]

    def texts(self, step, key):
        return [bytes.fromhex(value).decode() for value in self.facts.values(step, key)]

    def test_an_edit_after_a_cut_in_the_journal_survives_the_next_saves(self):
        for mode, step in self.steps.items():
            with self.subTest(mode=mode):
                self.assertEqual(self.facts.values(step, "error"), [])
                self.assertEqual(self.texts(step, "new"),
                                 [settings_text(platform=NEW), hosts_after(NEW)])
                self.assertEqual(self.texts(step, "edited-old"),
                                 [settings_text(), OLD_HOSTS + self.EDIT])
                settings, hosts = self.texts(step, "edited-new")
                self.assertEqual(settings, settings_text(platform=NEW))
                # The edit kept once, the platform's entry replaced.
                self.assertEqual(hosts.replace(self.EDIT, "", 1), hosts_after(NEW))
                after_cut, after_next, after_again = self.figures(mode)
                points = len(after_cut)
                self.assertEqual(int(self.facts.value(step, "points")), points)
                self.assertGreater(points, 10)
                self.assertEqual({c["mounted"] for c in after_cut}, {"yes"})
                self.assertLessEqual({c["settings"] for c in after_cut}, {"old", "new"})
                self.assertEqual({c["hosts"] for c in after_cut}, {"old"})
                # Once /pstore is synced after the rename, the journal stands.
                committed = [c["journal"] == "yes" for c in after_cut]
                self.assertEqual((committed[0], committed[-1]), (False, True))
                self.assertEqual([(n["status"], n["settings"], n["hosts"])
                                  for n in after_next + after_again],
                                 [("0", "new", "new")] * 2 * points)
                self.assertEqual({bytes.fromhex(v) for key in ("next-out", "again-out")
                                  for v in self.facts.values(step, key)}, {DONE})
                for kept, err in zip(committed, self.facts.values(step, "next-err")):
                    if kept:
                        self.assertRegex(bytes.fromhex(err), b"^" + self.SET_ASIDE + b"$")
                    else:
                        self.assertEqual(bytes.fromhex(err), b"")
                self.assertEqual(set(self.facts.values(step, "again-err")), {""})
                self.assertEqual([sorted(names.split()) for names in self.texts(step, "left-pstore")],
                                 [sorted(self.LEFT[mode] + ["hosts.zarn-journal.set-aside"] * kept)
                                  for kept in committed])
                self.assertEqual(set(self.texts(step, "left-etc")), {"hosts\n"})


def print_figures():
    print("\npower cuts: points tried; after the cut, per file: old/new/other;"
          " after the next save: new/other", file=sys.stderr)
    for test in (RenameCutTest, InPlaceCutTest, ReadOnlyEtcCutTest):
        for name in test.cuts():
            points, after_cut, after_next = test.figures(name)
            counts = []
            for file in ("settings", "hosts"):
                seen = [c.get(file, "unmounted") for c in after_cut]
                then = [n[file] for n in after_next]
                counts.append(f"{file} {seen.count('old')}/{seen.count('new')}/"
                              f"{len(seen) - seen.count('old') - seen.count('new')}, then "
                              f"{then.count('new')}/{len(then) - then.count('new')}")
            print(f"  {name:12} {points:3} points; " + "; ".join(counts), file=sys.stderr)
    print("power cuts in the hosts table's journal, the table edited after each: points (the"
          " rename's); after the cut, settings old/new, journal committed; after the save and"
          " the next: new/other, journals set aside", file=sys.stderr)
    for mode, step in JournalCutTest.steps.items():
        after_cut, after_next, after_again = JournalCutTest.figures(mode)
        seen = [c.get("settings") for c in after_cut]
        then = [[n["settings"] == n["hosts"] == "new" for n in saves]
                for saves in (after_next, after_again)]
        renamed = JournalCutTest.facts.values(step, "renamed")
        print(f"  -J {mode:9} {len(after_cut):3} points ({renamed[0] if renamed else '-'});"
              f" settings {seen.count('old')}/{seen.count('new')},"
              f" {sum(c.get('journal') == 'yes' for c in after_cut)} committed;"
              f" then {then[0].count(True)}/{then[0].count(False)} and"
              f" {then[1].count(True)}/{then[1].count(False)},"
              f" {sum(bool(v) for v in JournalCutTest.facts.values(step, 'next-err'))} set aside",
              file=sys.stderr)


# One boot per core.
BOOTS = [(RemoteTest, DriverTest, SaveTest, RenameCutTest, JournalCutTest),
         (InPlaceCutTest, ReadOnlyEtcCutTest)]


def setUpModule():
    plans = []
    for classes in BOOTS:
        plan = vm.Plan()
        for cls in classes:
            cls.add_steps(plan)
        plans.append(plan)
    with concurrent.futures.ThreadPoolExecutor(len(plans)) as pool:
        for classes, facts in zip(BOOTS, pool.map(vm.boot, plans)):
            for cls in classes:
                cls.facts = facts
    print_figures()


if __name__ == "__main__":
    unittest.main(verbosity=2)
