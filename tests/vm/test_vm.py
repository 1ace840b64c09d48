"""zarn on the virtual SP (standins/sp-vm): a booted PowerPC kernel, the ruvo driver as a kernel
module, /pstore and /etc on UBIFS over flash, and the agent simulator across the link's two NICs.
The driver's requests and the saves, with the remote commands they send, then power cuts at
every system call of the saves, run on two machines booted side by side, once, before the tests look at what they reported. Cuts while a save writes the hosts
table's journal are each followed by an administrator's edit of the table before the save runs
again."""
import concurrent.futures
import os
import re
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "e2e"), os.path.join(HERE, "..", "..", "standins", "sp-vm")]
import harness  # noqa: E402
import vm  # noqa: E402
from harness import ALIAS, CONFIRM, DONE, PLATFORM, SETTINGS, SP, settings_text  # noqa: E402
from test_link import report  # noqa: E402

NEW = "169.254.101.4"  # the platform side's spare address
FAIL = "/sys/module/ruvo/parameters/fail"
SCRIPTS_PATH = "/usr/sbin:/usr/bin:/sbin:/bin"
HOSTS = "127.0.0.1\tlocalhost\n10.20.30.40\tbuildhost.example.test buildhost\n"
OLD_HOSTS = HOSTS.replace("\n", f"\n169.254.7.3\t{ALIAS} old\n", 1)
TIME = rb"<time>\d{4}-\d\d-\d\d \d\d:\d\d:\d\d</time>\n"


def hosts_after(address):
    return HOSTS + f"{address}  {ALIAS}\n"


def driver(name, address):
    """The module's log line for NAME_IP_IOCTL: the request as the PowerPC kernel encodes
    _IOR('J', number, 4 bytes)."""
    number = {"SET_PLAT": 31, "GET_PLAT": 32, "SET_SP": 41}[name]
    return f"{name}_IP_IOCTL {0x40000000 | 4 << 16 | ord('J') << 8 | number:#x} {address}"


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

    def texts(self, step, key):
        return [bytes.fromhex(value).decode() for value in self.facts.values(step, key)]

    @classmethod
    def fields(cls, step, key):
        """Each `key` fact of `step` as a dict of the KEY=VALUE words after its first."""
        return [dict(field.split("=") for field in line.split()[1:]) for line in cls.facts.values(step, key)]


class DriverTest(VmTest):
    """The requests reach the ruvo module through the kernel, which keeps the address pushed."""
    FILE = settings_text(sp="169.254.50.2", platform="169.254.50.3")
    PUSHED = [driver("SET_PLAT", "169.254.50.3"), driver("SET_SP", "169.254.50.2")]
    FAILED = b"RUVO_CONFIG: ioctl %s_IP_IOCTL failed -1\n"
    CASES = [  # settings file, failing request, argument -> out, err, status, the module's log
        (None, None, "-j", report(PLATFORM, SP), b"", 0, [driver("GET_PLAT", PLATFORM)]),
        (None, None, "--configRuvo", b"", b"", 0, [driver("SET_PLAT", PLATFORM), driver("SET_SP", SP)]),
        (FILE, None, "--configRuvo", b"", b"", 0, PUSHED),
        (FILE, None, "-j", report("169.254.50.3", SP), b"", 0, [driver("GET_PLAT", "169.254.50.3")]),
        (FILE, "SET_PLAT", "--configRuvo", b"", FAILED % b"SET_PLAT", 255, PUSHED[:1]),
        (FILE, "SET_SP", "--configRuvo", b"", FAILED % b"SET_SP", 255, PUSHED),
        (settings_text(platform="169.254.7.8"), "GET_PLAT", "-j", report("169.254.7.8", SP), b"", 0,
         [driver("GET_PLAT", "failed")]),  # the platform from the settings file
    ]

    @classmethod
    def add_steps(cls, plan):
        plan.driver_log()
        cls.steps = []
        for settings, failing, argument, *_ in cls.CASES:
            plan.remove(SETTINGS) if settings is None else plan.write(SETTINGS, settings)
            plan.write(FAIL, f"{failing}_IP_IOCTL" if failing else "\n")
            cls.steps.append((plan.run("zarn", argument), plan.driver_log()))
        plan.write(FAIL, "\n")
        plan.remove(SETTINGS)
        plan.run("zarn", "--configRuvo")

    def test_each_request_reaches_the_module_and_a_failing_one_ends_the_push(self):
        for (_, failing, argument, out, err, status, log), (run, logged) in zip(self.CASES, self.steps):
            with self.subTest(argument=argument, failing=failing):
                self.assertRan(run, out, err, status)
                self.assertEqual(self.lines(logged), log)


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
        plan.stop_agents()

    def test_a_confirmed_port_is_saved_logged_then_used(self):
        self.assertRan(self.port_save, CONFIRM)
        self.assertEqual(self.logged(self.port_log), [  # from no settings file: the built-in values
            f"29 saved the link settings and the hosts table: platform {PLATFORM} -> {PLATFORM}, sp {SP} -> {SP}, "
            "port 6789 -> 7100"])
        settings, hosts, pstore, scripts = self.port_files
        self.assertEqual((self.facts.file(settings), self.facts.file(hosts), self.facts.data(pstore, "names")), (
            settings_text(port=7100).encode(), hosts_after(PLATFORM).encode(), b"ruvo_config\nzarn.lock\n"))
        self.assertEqual(self.facts.file(scripts).decode().splitlines(),
                         [f"{name} 0 3 1 {SCRIPTS_PATH}" for name in ("spIpConfig.sh", "addHosts.sh")])
        self.assertRegex(self.facts.run(self.moved).out, TIME)

    def logged(self, step):
        """The system log's lines as "PRIORITY TEXT", or as they came when they are not whole."""
        whole = r"^<(\d+)>zarn\[\d+\]: (.*) \(uid 0, parent \S+\)$"
        return [re.sub(whole, r"\1 \2", line) for line in self.lines(step)]

    def test_readdressing_tells_the_agent_saves_logs_and_reconfigures_the_driver(self):
        run, log = self.readdress
        self.assertRan(run, DONE)
        self.assertEqual(self.lines(log), [driver("SET_PLAT", PLATFORM), driver("SET_PLAT", NEW),
                                           driver("SET_SP", SP)])
        self.assertEqual(self.logged(self.readdress_log), [
            f"29 re-addressing the link to platform {NEW}, sp {SP}: request sent to {PLATFORM} port 7100",
            f"29 saved the link settings and the hosts table: platform {PLATFORM} -> {NEW}, "
            f"sp {SP} -> {SP}, port 7100 -> 7100",
            f"29 gave the driver platform {NEW}, sp {SP}"])
        settings, hosts, scripts = (self.facts.file(step) for step in self.readdress_files)
        self.assertEqual((settings, hosts, len(scripts.splitlines())),
                         (settings_text(platform=NEW, port=7100).encode(), hosts_after(NEW).encode(), 2))
        self.assertEqual(requests(self.facts.file(self.log))[:3],
                         [b"o 7100", b"T", f"J p={NEW} s={SP}".encode()])
        self.assertRan(self.readdressed[0], report(NEW, SP))
        self.assertRegex(self.facts.run(self.readdressed[1]).out, TIME)


class PowerCuts:
    """Each cut must leave the volumes mountable and each file old or new; on the in-place path
    the hosts table must be new once the next save has run. The next save must succeed whatever
    the cut left."""
    MODE = None  # where the hosts table stands (init/flash.h): rename, in-place or read-only
    TABLE = "/etc/hosts"  # the file that holds it

    OLD = [settings_text(), OLD_HOSTS]  # both files before each save

    @classmethod
    def cuts(cls):
        """Each save by name: its arguments, its output and both files after it."""
        return {f"-o {cls.MODE}": (["-o", "7000"], CONFIRM,
                                   [settings_text(port=7000), hosts_after(PLATFORM)]),
                f"-J {cls.MODE}": (["-J", "-a", NEW, "-g", SP], DONE,
                                   [settings_text(platform=NEW), hosts_after(NEW)])}

    @classmethod
    def add_steps(cls, plan):
        for port in (6789, 7000):  # the old port and the one -o saves
            plan.agent("--listen", "0.0.0.0", "--port", port, "--keep-port")
        cls.steps = {}
        for name, (args, _, _) in cls.cuts().items():
            plan.write(SETTINGS, cls.OLD[0])
            plan.write(cls.TABLE, cls.OLD[1])
            cls.steps[name] = plan.cut(cls.MODE, "zarn", *args, "-w", "5")
        plan.stop_agents()

    @classmethod
    def figures(cls, name):
        """For each point tried: what the cut left, and what the next save left."""
        return cls.fields(cls.steps[name], "cut"), cls.fields(cls.steps[name], "next")

    def test_every_cut_leaves_each_file_old_or_new_and_the_next_save_succeeds(self):
        for name, (_, out, new) in self.cuts().items():
            step = self.steps[name]
            with self.subTest(cut=name):
                self.assertEqual(self.facts.values(step, "error"), [])
                self.assertEqual((int(self.facts.value(step, "status")), self.facts.data(step, "out")),
                                 (0, out))
                self.assertEqual((self.texts(step, "old"), self.texts(step, "new")), (self.OLD, new))
                after_cut, after_next = self.figures(name)
                points = len(after_cut)
                self.assertEqual((int(self.facts.value(step, "points")), points > 20), (points, True))
                self.assertLessEqual({(c["mounted"], c.get("settings")) for c in after_cut},
                                     {("yes", "old"), ("yes", "new")})
                if self.MODE == "rename":
                    self.assertLessEqual({c["hosts"] for c in after_cut}, {"old", "new"})
                self.assertEqual([(n["status"], n["settings"], n["hosts"]) for n in after_next],
                                 [("0", "new", "new")] * points)
                self.assertEqual({bytes.fromhex(v) for v in self.facts.values(step, "next-out")}, {out})


class RenameCutTest(PowerCuts, VmTest):
    MODE = "rename"


class InPlaceCutTest(PowerCuts, VmTest):
    MODE = "in-place"


class ReadOnlyEtcCutTest(PowerCuts, VmTest):
    MODE = "read-only"
    TABLE = "/pstore/hosts"


class JournalCutTest(VmTest):
    """Power cuts while -J writes and commits the journal of the table's in-place rewrite, from
    the creation of its temporary to the sync of /pstore after the rename, each followed by an
    administrator's edit of the table. A journal the cut left committed no longer fits the table:
    it must be set aside, never applied over the edit. The save after the edit and the next one
    succeed, each file new with the edit kept, and leave nothing behind but the set-aside journal."""
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
        return [cls.fields(cls.steps[mode], key) for key in ("cut", "next", "again")]

    def test_an_edit_after_a_cut_in_the_journal_survives_the_next_saves(self):
        for mode, step in self.steps.items():
            with self.subTest(mode=mode):
                self.assertEqual(self.facts.values(step, "error"), [])
                self.assertEqual(self.texts(step, "new"), [settings_text(platform=NEW), hosts_after(NEW)])
                self.assertEqual(self.texts(step, "edited-old"), [settings_text(), OLD_HOSTS + self.EDIT])
                settings, hosts = self.texts(step, "edited-new")  # the edit kept once, the platform's new
                self.assertEqual((settings, hosts.replace(self.EDIT, "", 1)),
                                 (settings_text(platform=NEW), hosts_after(NEW)))
                after_cut, after_next, after_again = self.figures(mode)
                points = len(after_cut)
                self.assertEqual((int(self.facts.value(step, "points")), points > 10), (points, True))
                self.assertLessEqual({(c["mounted"], c.get("settings"), c.get("hosts")) for c in after_cut},
                                     {("yes", "old", "old"), ("yes", "new", "old")})
                # Once /pstore is synced after the rename, the journal stands.
                committed = [c["journal"] == "yes" for c in after_cut]
                self.assertEqual((committed[0], committed[-1]), (False, True))
                self.assertEqual([(n["status"], n["settings"], n["hosts"])
                                  for n in after_next + after_again],
                                 [("0", "new", "new")] * 2 * points)
                self.assertEqual({bytes.fromhex(v) for key in ("next-out", "again-out")
                                  for v in self.facts.values(step, key)}, {DONE})
                errors = [bytes.fromhex(err) for err in self.facts.values(step, "next-err")]
                self.assertEqual([b"set aside" if re.fullmatch(self.SET_ASIDE, e) else e for e in errors],
                                 [b"set aside" if kept else b"" for kept in committed])
                self.assertEqual(set(self.facts.values(step, "again-err")), {""})
                self.assertEqual([sorted(names.split()) for names in self.texts(step, "left-pstore")],
                                 [sorted(self.LEFT[mode] + ["hosts.zarn-journal.set-aside"] * kept)
                                  for kept in committed])
                self.assertEqual(set(self.texts(step, "left-etc")), {"hosts\n"})


def tally(values, *kinds):
    """How many of `values` are each of `kinds`, then how many are none of them: "a/b/other"."""
    counts = [values.count(kind) for kind in kinds]
    return "/".join(map(str, counts + [len(values) - sum(counts)]))


def print_figures():
    print("\npower cuts: points tried; per file, old/new/other after the cut, then new/other after the"
          " next save; for cuts in the journal (the table edited after each): the point of its rename,"
          " the journals committed and those set aside", file=sys.stderr)
    cuts = [(test, name, name) for test in (RenameCutTest, InPlaceCutTest, ReadOnlyEtcCutTest)
            for name in test.cuts()] + [(JournalCutTest, mode, f"-J {mode}") for mode in JournalCutTest.steps]
    for test, name, label in cuts:
        after_cut, after_next = test.figures(name)[:2]
        line = f"  {label:12} {len(after_cut):3} points; " + "; ".join(
            f"{file} {tally([c.get(file, 'unmounted') for c in after_cut], 'old', 'new')}, then "
            f"{tally([n[file] for n in after_next], 'new')}" for file in ("settings", "hosts"))
        if test is JournalCutTest:
            step = test.steps[name]
            line += (f"; renamed at {(test.facts.values(step, 'renamed') or ['-'])[0]},"
                     f" {sum(c.get('journal') == 'yes' for c in after_cut)} committed,"
                     f" {sum(map(bool, test.facts.values(step, 'next-err')))} set aside")
        print(line, file=sys.stderr)


# One boot per core.
BOOTS = [(DriverTest, SaveTest, RenameCutTest, JournalCutTest),
         (InPlaceCutTest, ReadOnlyEtcCutTest)]


def setUpModule():
    plans = [vm.Plan() for _ in BOOTS]
    for plan, classes in zip(plans, BOOTS):
        for cls in classes:
            cls.add_steps(plan)
    with concurrent.futures.ThreadPoolExecutor(len(plans)) as pool:
        for classes, facts in zip(BOOTS, pool.map(vm.boot, plans)):
            for cls in classes:
                cls.facts = facts
    print_figures()


if __name__ == "__main__":
    unittest.main(verbosity=2)
