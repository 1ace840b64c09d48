#!/usr/bin/env python3
"""Plants one small fault at a time in zarn's sources and tells which ones the tests miss.

A copy of the checkout (tracked files and untracked ones that are not ignored) is built in a
scratch folder and must pass the tests first. Then each fault in turn (a flipped comparison,
&& for ||, a constant off by one, a message cut short, a call statement dropped, true for
false) is planted, built and tested: a fault the tests fail on is killed, one they pass on
survived. A fault that does not build is counted apart. Read every survivor: it is either a
behaviour no test pins or a fault that changes no behaviour.

    python3 scripts/mutate.py --sample 80 --seed 7      (from the checkout, as root)
"""
import argparse
import collections
import fnmatch
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SOURCES = ["cli/*.cpp", "agent/*.cpp", "link/*.cpp", "base/*.cpp", "base/*.h"]
CONFIGURE = "cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARN_TESTS=ON"
BUILD = "cmake --build build"
TEST = "ctest --test-dir build -L 'unit|e2e' -j2 --timeout 300"

# Preprocessor lines, comments and literals: the code faults leave them alone, and the
# string literals are where the message faults go.
LEFT_ALONE = re.compile(r"^[ \t]*#[^\n]*|//[^\n]*|/\*.*?\*/|"
                        r'"(?:[^"\\\n]|\\.)*"|' r"'(?:[^'\\\n]|\\.)*'", re.M | re.S)
CHARACTER = re.compile(r"\\x[0-9a-fA-F]+|\\[0-7]{1,3}|\\.|[^\\]")


def plus_one(number):
    """The literal one above `number`, octal staying octal."""
    if number.startswith("0") and number != "0":
        return "0" + format(int(number, 8) + 1, "o")
    return str(int(number) + 1)


SWAP = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">",
        "&&": "||", "||": "&&", "true": "false", "false": "true"}
# Each kind of fault: where it goes (the group `f`) and what replaces it.
KINDS = [
    ("comparison", r"(?<= )(?P<f>==|!=|<=|>=|<|>)(?= )", SWAP.get),
    ("logic", r"(?<= )(?P<f>&&|\|\|)(?= )", SWAP.get),
    ("boolean", r"\b(?P<f>true|false)\b", SWAP.get),
    ("constant", r"(?<![\w.])(?P<f>\d+)(?=[uUlL]*(?![\w.]))", plus_one),
    ("call", r"^[ \t]*(?P<f>(?!static_assert\b)(?:\(void\))?[A-Za-z_:][\w:]*(?:(?:\.|->)\w+)*"
             r"\([^;\n]*\);)[ \t]*$", lambda _: ";"),
]

Fault = collections.namedtuple("Fault", "path line kind before after text")


def blanked(text):
    """`text` with what faults leave alone blanked to spaces, so offsets stay the same."""
    return LEFT_ALONE.sub(lambda m: re.sub(r"[^\n]", " ", m[0]), text)


def changes(text):
    """(kind, start, end, replacement) of every fault that fits in `text`."""
    code = blanked(text)
    for kind, pattern, replace in KINDS:
        for m in re.finditer(pattern, code, re.M):
            yield kind, m.start("f"), m.end("f"), replace(m["f"])
    for m in LEFT_ALONE.finditer(text):
        characters = CHARACTER.findall(m[0][1:-1]) if m[0].startswith('"') else []
        if characters:
            yield "message", m.end() - 1 - len(characters[-1]), m.end() - 1, ""


def faults_in(path, text):
    for kind, start, end, replacement in changes(text):
        planted = text[:start] + replacement + text[end:]
        first = text.rfind("\n", 0, start) + 1
        last = text.find("\n", start)
        shift = len(replacement) - (end - start)
        yield Fault(path, text.count("\n", 0, start) + 1, kind, text[first:last].strip(),
                    planted[first:last + shift].strip(), planted)


def checkout_files(repo):
    listed = subprocess.run(["git", "-C", repo, "ls-files", "-z", "--cached", "--others",
                             "--exclude-standard"], capture_output=True, check=True, text=True)
    return sorted(name for name in set(listed.stdout.split("\0"))
                  if name and os.path.lexists(os.path.join(repo, name)))


def copy_checkout(repo, files, scratch):
    for name in files:
        target = os.path.join(scratch, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(repo, name), target, follow_symlinks=False)


def succeeds(command, cwd, timeout=None, log=os.devnull):
    """Whether the shell line exits 0 within `timeout` seconds; it is killed with all it
    started when it does not."""
    with open(log, "ab") as out, subprocess.Popen(
            command, shell=True, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
            stderr=subprocess.STDOUT, start_new_session=True) as proc:
        try:
            return proc.wait(timeout) == 0
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            return False


def outcome(fault, tree, test, timeout):
    """Plants `fault` in the scratch tree, builds and tests it, and takes it out again."""
    path = os.path.join(tree, fault.path)
    with open(path) as f:
        original = f.read()
    try:
        with open(path, "w") as f:
            f.write(fault.text)
        if not succeeds(BUILD, tree):
            return "no-build"
        return "survived" if succeeds(test, tree, timeout) else "killed"
    finally:
        with open(path, "w") as f:
            f.write(original)


def list_sites(faults, files):
    counts = collections.defaultdict(collections.Counter)
    for fault in faults:
        counts[fault.path][fault.kind] += 1
    for path, kinds in sorted(counts.items()):
        print(f"{path:28} " + " ".join(f"{kind}={n}" for kind, n in sorted(kinds.items())))
    print(f"{len(faults)} sites in {len(files)} files")


def baseline_timeout(tree, test):
    """How long a test run may take once a fault is in (one may hang the program), or None
    when the unchanged tree does not build and pass."""
    log = os.path.join(tree, "baseline.log")
    built = succeeds(CONFIGURE, tree, log=log) and succeeds(BUILD, tree, log=log)
    started = time.monotonic()
    if not (built and succeeds(test, tree, log=log)):
        print(f"mutate: the unchanged tree fails; see {log}", file=sys.stderr)
        return None
    return 3 * (time.monotonic() - started) + 60


def measure(faults, tree, test, timeout):
    results = collections.Counter()
    for number, fault in enumerate(faults, 1):
        result = outcome(fault, tree, test, timeout)
        results[result] += 1
        print(f"[{number}/{len(faults)}] {result:8} {fault.path}:{fault.line} {fault.kind}",
              file=sys.stderr)
        if result == "survived":
            print(f"survived {fault.path}:{fault.line} {fault.kind}: {fault.before} -> "
                  f"{fault.after}", flush=True)
    viable = results["killed"] + results["survived"]
    share = f"{100 * results['killed'] / viable:.0f}%" if viable else "-"
    print(f"score: {results['killed']} of {viable} faults killed ({share}); "
          f"{results['no-build']} more did not build")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sample", type=int, default=0, metavar="N",
                        help="plant N faults chosen at random (default 0: every site)")
    parser.add_argument("--seed", type=int, default=1, metavar="S", help="seed of the choice")
    parser.add_argument("--files", nargs="+", default=SOURCES, metavar="GLOB",
                        help="where faults go (default: %(default)s)")
    parser.add_argument("--list", action="store_true", help="count the sites and stop")
    parser.add_argument("--test", default=TEST, metavar="CMD",
                        help="the shell line that tests a build (default: %(default)s)")
    args = parser.parse_args()

    repo = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True,
                          check=True, text=True).stdout.strip()
    everything = checkout_files(repo)
    files = [name for name in everything if any(fnmatch.fnmatchcase(name, g) for g in args.files)]
    faults = []
    for name in files:
        with open(os.path.join(repo, name)) as f:
            faults += faults_in(name, f.read())
    if args.list:
        list_sites(faults, files)
        return 0
    if 0 < args.sample < len(faults):
        faults = sorted(random.Random(args.seed).sample(faults, args.sample))
    tree = tempfile.mkdtemp(prefix="zarn-mutate-")
    copy_checkout(repo, everything, tree)
    timeout = baseline_timeout(tree, args.test)
    if timeout is None:
        return 2
    print(f"mutate: the unchanged tree passes; planting {len(faults)} faults", file=sys.stderr)
    measure(faults, tree, args.test, timeout)
    shutil.rmtree(tree, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
