"""The virtual SP from Python: a plan of steps (init/plan.h), booted by
machine.sh, and the facts each step reported on the console."""
import os
import subprocess
import tempfile
from dataclasses import dataclass

SP_VM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "machine.sh")
MARK = "@sp-vm "


@dataclass
class Run:
    out: bytes
    err: bytes
    status: int  # exit status; negative: ended by that signal


class Plan:
    """Each method adds a step and returns its number, under which boot() gives its facts."""

    def __init__(self):
        self.lines = []

    def add(self, *fields):
        fields = [str(f) for f in fields]
        if any(not f or "\t" in f or "\n" in f for f in fields):
            raise ValueError(f"a plan field must be non-empty, without tabs or newlines: {fields}")
        self.lines.append("\t".join(fields))
        return len(self.lines)

    def run(self, *argv):
        return self.add("run", *argv)

    def agent(self, *options):
        return self.add("agent", *options)

    def stop_agents(self):
        return self.add("stop-agents")

    def write(self, path, data):
        data = data.encode() if isinstance(data, str) else data
        return self.add("write", path, data.hex())

    def remove(self, path):
        return self.add("remove", path)

    def show(self, path):
        return self.add("show", path)

    def list(self, path):
        return self.add("list", path)

    def driver_log(self):
        return self.add("driver-log")

    def system_log(self):
        return self.add("system-log")

    def cut(self, mode, *argv):
        return self.add("cut", mode, *argv)

    def cut_journal(self, mode, journal, edit, *argv):
        edit = edit.encode() if isinstance(edit, str) else edit
        return self.add("cut-journal", mode, journal, edit.hex(), *argv)


class Facts:
    """What the steps reported: (key, value) pairs in order, by step number."""

    def __init__(self, console):
        self.console = console
        self.by_step = {}
        for line in console.splitlines():
            line = line.rstrip("\r")
            if line.startswith(MARK):
                step, key, *value = line[len(MARK):].split(" ", 2)
                self.by_step.setdefault(int(step), []).append((key, value[0] if value else ""))

    def of(self, step):
        return self.by_step.get(step, [])

    def values(self, step, key):
        return [value for k, value in self.of(step) if k == key]

    def value(self, step, key):
        values = self.values(step, key)
        if not values:
            raise KeyError(f"step {step} reported no {key}: {self.of(step)}")
        return values[0]

    def data(self, step, key):
        return bytes.fromhex(self.value(step, key))

    def run(self, step):
        return Run(self.data(step, "out"), self.data(step, "err"), int(self.value(step, "status")))

    def file(self, step):
        """The file's bytes, or None when it was absent."""
        return None if self.values(step, "absent") else self.data(step, "file")

    def errors(self):
        return [(step, value) for step, facts in self.by_step.items()
                for key, value in facts if key in ("error", "fatal")]


def boot(plan, timeout=600, env=None):
    """Boots the virtual SP with `plan`; the facts once it has powered off."""
    with tempfile.NamedTemporaryFile("w", prefix="sp-vm-plan-") as file:
        file.write("\n".join(plan.lines) + "\n")
        file.flush()
        done = subprocess.run([SP_VM, "boot", file.name], stdout=subprocess.PIPE,
                              timeout=timeout, env=env)
    facts = Facts(done.stdout.decode("latin-1"))
    if facts.values(0, "done") != ["ok"]:
        raise RuntimeError(f"the virtual SP did not finish its plan:\n{facts.console}")
    return facts
