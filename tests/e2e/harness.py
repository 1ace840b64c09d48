"""Shared fixture of the end-to-end tests, inside the sandbox made by sandbox.sh. CTest
names the programs: ZARN, ZARN_AGENT_SIM, RUVO_STANDIN_LIB, ZARN_CRASH_LIB, ZARN_EMULATOR."""
import contextlib
import os
import re
import shlex
import shutil
import socket
import subprocess
import tempfile
import time
import unittest
from collections import namedtuple

ZARN = os.environ.get("ZARN", "")
AGENT_SIM = os.environ.get("ZARN_AGENT_SIM", "")
STANDIN_LIB = os.environ.get("RUVO_STANDIN_LIB", "")
CRASH_LIB = os.environ.get("ZARN_CRASH_LIB", "")
EMULATOR = shlex.split(os.environ.get("ZARN_EMULATOR", ""))

SETTINGS = "/pstore/ruvo_config"
DRIVER_NODE = "/dev/ruvo/ruvo0"
SCRIPTS = "/usr/local/bin"
PLATFORM = "169.254.101.3"
SP = "169.254.101.2"
ALIAS = "platform.ruvo.local"
# The hosts table as sandbox.sh made it; every test starts from it.
with open("/etc/hosts") as _f:
    HOSTS = _f.read()

# The program's exact messages, shared by every module.
DONE = b"<returnVal>0</returnVal></zarn>\n"
ABNORMAL = b"<error>Abnormal socket closure</error></zarn>\n"
TIMEOUT = b"<error>connection timeout</error>"
BAD_PORT = b"<error>Invalid port value</error>\n"
REFUSED = b"<error>connect error</error>: Connection refused\n"
WRONG_COUNT = b"<error> wrong number of commands given</error>\n"
BAD_CPU = b"<error>Invalid cpu #</error>\n"
STARTUP_BAD = b"<error>/pstore/ruvo_config invalid file format</error>\n"
STRICT_BAD = b"<error>/pstore/ruvo_config invalid format</error>\n"
CONFIRM = b"<cmdRetVal>0</cmdRetVal>\n"
CANT_SAVE = b"Zarn: Unable to save Ruvo IP Configuration is /pstore/ruvo_config\n"
NO_HOSTS = b"<error>Unable to save host information</error?\n"
NO_SCRIPT = b"<error>spIpConfig.sh script failed</error>\n"
NOT_SENT = b"<error>Unable to send command to platform</error>\n"
NO_SIGNAL = b"<error>Can't create signal.</error>"
# A settings file cut after its second line.
MALFORMED = "sp 169.254.101.2 0xa9fe6502\np0 169.254.101.3 0xa9fe6503\n"


def read(path, encoding=None):
    """The file's text, or None when there is none."""
    with contextlib.suppress(FileNotFoundError), open(path, encoding=encoding) as f:
        return f.read()
    return None


def write(path, text):
    with open(path, "w") as f:
        f.write(text)
    return path


def wait_until(done, seconds):
    """Polls `done` until it holds or `seconds` pass; returns its last answer."""
    deadline = time.monotonic() + seconds
    while not done() and time.monotonic() < deadline:
        time.sleep(0.02)
    return done()


def pstore():
    """What /pstore holds besides the save lock, which stays between saves."""
    return sorted(name for name in os.listdir("/pstore") if name != "zarn.lock")


def remove(path):
    """Removes a file, a link or a whole directory, if there is one."""
    with contextlib.suppress(FileNotFoundError):
        shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.remove(path)


def remount_pstore(mode):
    """Makes the sandbox's /pstore writable ("rw") or read-only ("ro")."""
    subprocess.run(["mount", "-o", f"remount,{mode}", "/pstore"], check=True)


def settings_text(sp=SP, platform=PLATFORM, port=6789):
    """The three lines the program writes for these values."""
    line = lambda key, text: f"{key} {text} 0x{int.from_bytes(socket.inet_aton(text), 'big'):08x}\n"
    return line("sp", sp) + line("p0", platform) + f"zarn {port}\n"


def unescape(line):
    """Decodes a field of the simulator's log (request or answer) into bytes."""
    return re.sub(rb"\\(x[0-9a-f]{2}|n|\\)", lambda m: {b"n": b"\n", b"\\": b"\\"}.get(
        m.group(1)) or bytes([int(m.group(1)[1:], 16)]), line.encode("latin-1"))


# A run of zarn: its exit status is negative when a signal ended it; elapsed is in seconds.
Result = namedtuple("Result", "out err status elapsed")


class Agent:
    """A running simulator; `requests()` gives the request bytes it logged."""

    def __init__(self, proc, log, ready):
        self.proc, self.log, self.ready = proc, log, ready

    def lines(self):
        return (read(self.log, "latin-1") or "").splitlines()

    def requests(self, count=1, timeout=5.0):
        """Waits until at least `count` connections were logged."""
        wait_until(lambda: len(self.lines()) >= count, timeout)
        return [unescape(line.split("\t")[2]) for line in self.lines()]


class SandboxTest(unittest.TestCase):
    """Base of every e2e test: fresh sandbox files and a private directory."""

    @classmethod
    def setUpClass(cls):
        # Refuse to touch a real machine: these are the sandbox's own mounts.
        for path in ("/pstore", SCRIPTS):
            if not os.path.ismount(path):
                raise RuntimeError(f"{path} is not the sandbox's; run through sandbox.sh")
        socket.if_nametoindex("ruvo0")
        for name, value in (("ZARN", ZARN), ("ZARN_AGENT_SIM", AGENT_SIM),
                            ("RUVO_STANDIN_LIB", STANDIN_LIB)):
            if not value or not os.path.exists(value):
                raise RuntimeError(f"{name} does not name a built file: {value!r}")

    def setUp(self):
        remount_pstore("rw")
        remove(SETTINGS)
        write("/etc/hosts", HOSTS)
        for name in os.listdir(SCRIPTS):
            remove(os.path.join(SCRIPTS, name))
        remove("/dev/ruvo")
        os.makedirs("/dev/ruvo")
        write(DRIVER_NODE, "")
        self.dir = tempfile.mkdtemp(prefix="zarn-e2e-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.standin_log = os.path.join(self.dir, "standin.log")
        self.standin = {}   # RUVO_STANDIN_GET / RUVO_STANDIN_FAIL for zarn
        self._agents = 0

    def zarn(self, *args, timeout=10, env=None, preload=()):
        """Runs zarn in a session of its own, so that no signal it sends reaches the tests."""
        cmd, environment = self.zarn_command(*args, env=env, preload=preload)
        start = time.monotonic()
        proc = subprocess.run(cmd, cwd=self.dir, env=environment, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout, start_new_session=True)
        return Result(proc.stdout, proc.stderr, proc.returncode, time.monotonic() - start)

    def spawn(self, *args, env=None, preload=(), **popen):
        """Starts zarn as `zarn` runs it and returns the process."""
        cmd, environment = self.zarn_command(*args, env=env, preload=preload)
        return subprocess.Popen(cmd, cwd=self.dir, env=environment, start_new_session=True,
                                **popen)

    def zarn_command(self, *args, env=None, preload=()):
        """Command line and environment: zarn with the stand-in and `preload` loaded."""
        libraries = ":".join((STANDIN_LIB, *preload))
        preloaded = {"RUVO_STANDIN_LOG": self.standin_log, **self.standin}
        base = {k: v for k, v in os.environ.items()
                if k != "LD_PRELOAD" and not k.startswith("RUVO_STANDIN_")}
        # A sanitizer build would refuse a preloaded library ahead of its runtime.
        base["ASAN_OPTIONS"] = ":".join(filter(None, (base.get("ASAN_OPTIONS"), "verify_asan_link_order=0")))
        # Under qemu the preload must reach only the target program; qemu's
        # -E splits its value at commas, so the stand-in's lists stay plain.
        cmd = EMULATOR + ["-E", f"LD_PRELOAD={libraries}", ZARN] if EMULATOR else [ZARN]
        if not EMULATOR:
            preloaded["LD_PRELOAD"] = libraries
        return cmd + [str(a) for a in args], {**base, **(env or {}), **preloaded}

    @contextlib.contextmanager
    def agent(self, *flags, listen=PLATFORM, port=6789, moves=False):
        """The agent simulator for a with block; it keeps its port after `o` unless `moves`."""
        self._agents += 1
        log = os.path.join(self.dir, f"agent{self._agents}.log")
        ready = os.path.join(self.dir, f"agent{self._agents}.ready")
        errors = open(os.path.join(self.dir, f"agent{self._agents}.err"), "w+b")
        proc = subprocess.Popen(
            EMULATOR + [AGENT_SIM, "--listen", listen, "--port", str(port), "--log", log,
                        "--ready", ready, *([] if moves else ["--keep-port"]),
                        *map(str, flags)],
            cwd=self.dir, stdin=subprocess.DEVNULL, stdout=errors, stderr=errors)
        try:
            if not wait_until(lambda: os.path.exists(ready) or proc.poll() is not None, 10) \
                    or not os.path.exists(ready):
                errors.seek(0)
                self.fail(f"agent simulator did not start: {errors.read()!r}")
            yield Agent(proc, log, ready)
        finally:
            proc.terminate()
            with contextlib.suppress(subprocess.TimeoutExpired):
                proc.wait(2)
            proc.kill()
            proc.wait()
            errors.close()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write_settings(self, text):
        write(SETTINGS, text)

    def driver_log(self):
        """The stand-in's lines: "NAME 0xNUMBER DOTTED"."""
        return (read(self.standin_log) or "").splitlines()

    def install_script(self, name, body):
        """Puts an executable shell script into the sandbox's /usr/local/bin."""
        path = os.path.join(SCRIPTS, name)
        write(path, "#!/bin/sh\n" + body)
        os.chmod(path, 0o755)
        return path

    def ip(self, *args):
        """Changes the sandbox's network for this test; undone afterwards."""
        self.addCleanup(reset_network)
        subprocess.run(["ip", *map(str, args)], check=True)


def reset_network():
    """Back to the sandbox's initial link: ruvo0 with 169.254.101.2/24 only."""
    run = lambda *a: subprocess.run(["ip", *a], stderr=subprocess.DEVNULL)
    for _, link in socket.if_nameindex():
        if link not in ("lo", "ruvo0", "plat0"):
            run("link", "del", link)
    run("addr", "flush", "dev", "ruvo0")
    run("addr", "add", f"{SP}/24", "dev", "ruvo0")
    run("neigh", "flush", "dev", "ruvo0", "nud", "permanent")
