"""Running Windows programs under Wine for the end-to-end tests of the updater.

A Sandbox is one scenario's world: its own Wine prefix (a hard-linked copy of a template made
once per test run), its own Xvfb display, drive letters mapped to folders of its own, and the
processes it starts. Every wait is bounded; leaving the sandbox ends everything it started, by
process id (Xvfb) or through the prefix's own wineserver (the Wine processes).

The package format the scenarios build their packages in is zarpo_format's (release/).
Standard library only.
"""
import os
import shutil
import signal
import subprocess
import tempfile
import time

WINE = os.environ.get("ZARPO_WINE", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("ZARPO_WINESERVER",
                            os.path.join(os.path.dirname(WINE), "wineserver"))
XVFB = os.environ.get("ZARPO_XVFB", "Xvfb")
# The Wine architecture of the prefixes: "win64" for the 64-bit twin, "win32" for the product.
WINEARCH = "win64"
# Every time-out here is multiplied by this: an emulated machine runs the same steps slower.
TIME_SCALE = 1.0


def program(build, name):
    """The path of one of the Windows programs the scenarios run from a build tree: the monitor
    window, from the monitor's room, or a helper of these tests."""
    if name == "DebugMonitor":
        return os.path.join(build, "monitor", name + ".exe")
    if name == "planted-dll":
        return os.path.join(build, "tests", "wine", "helpers", name + ".dll")
    return os.path.join(build, "tests", "wine", "helpers", name + ".exe")

def scaled(seconds):
    return seconds * TIME_SCALE


class Failure(Exception):
    """A scenario went wrong in a way that makes its checks meaningless (a hang, a crash)."""


def wine_environment(prefix, display=None, overrides=""):
    """`overrides`: more WINEDLLOVERRIDES entries, "name=n,b;..." """
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": prefix,
        "WINEARCH": WINEARCH,
        "WINEDEBUG": "-all",
        # Wine takes the ANSI code page from the locale: Japanese gives code page 932.
        "LC_ALL": "ja_JP.UTF-8",
        # No Mono or Gecko installers in a throw-away prefix.
        "WINEDLLOVERRIDES": ";".join(filter(None, ["mscoree=;mshtml=", overrides])),
    })
    env.pop("DISPLAY", None)
    if display is not None:
        env["DISPLAY"] = display
    return env


def make_template(prefix, timeout=120):
    """A fresh, initialised Wine prefix at `prefix` (replacing what is there)."""
    shutil.rmtree(prefix, ignore_errors=True)
    env = wine_environment(prefix)
    timeout = scaled(timeout)
    try:
        subprocess.run([WINE, "wineboot", "-i"], env=env, timeout=timeout, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=env, timeout=timeout, check=True)
    except subprocess.TimeoutExpired:
        subprocess.run([WINESERVER, "-k"], env=env, timeout=30)
        raise Failure("wineboot did not finish within %d s" % timeout)
    if not os.path.isfile(os.path.join(prefix, "system.reg")):
        raise Failure("wineboot left no registry in " + prefix)


def copy_prefix(template, prefix):
    """A private prefix from the template. The system files are hard links (nothing here writes
    them); the registry is copied, since the prefix's wineserver rewrites it."""
    os.makedirs(prefix)
    for name in os.listdir(template):
        source, target = os.path.join(template, name), os.path.join(prefix, name)
        if name == "drive_c":
            # Hard links need the same file system; a plain copy (some 700 MB) otherwise.
            if subprocess.run(["cp", "-al", source, target], stderr=subprocess.DEVNULL).returncode:
                shutil.rmtree(target, ignore_errors=True)
                subprocess.run(["cp", "-a", source, target], check=True)
        elif name == "dosdevices":
            subprocess.run(["cp", "-a", source, target], check=True)
        elif name.endswith(".reg") or name == ".update-timestamp":
            shutil.copy2(source, target)


def windows_path(path):
    """The Z: form of an absolute Linux path (Wine maps Z: to /)."""
    return "Z:" + path.replace("/", "\\")


class Process:
    """A started process with a bounded wait. Its standard output (when kept) and standard
    error go to files, not pipes: the Wine system processes a program starts (services,
    devices, the desktop) inherit its descriptors and outlive it while the sandbox's server
    runs, so a pipe would never reach its end."""

    def __init__(self, name, args, env, stem, keep_stdout=False):
        """`stem`: the path, less its ending, of the files that take the output."""
        self.name = name
        self.err_path = stem + ".err"
        self.out_path = stem + ".out" if keep_stdout else None
        with open(self.err_path, "wb") as err, \
                open(self.out_path or os.devnull, "wb") as out:
            self.popen = subprocess.Popen(args, env=env, stdout=out, stderr=err,
                                          start_new_session=True)

    def wait(self, timeout):
        """(exit code, standard output or None, standard error) once the process has ended."""
        timeout = scaled(timeout)
        try:
            self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("%s did not end within %d s" % (self.name, timeout))
        out = None
        if self.out_path:
            with open(self.out_path, "rb") as f:
                out = f.read()
        with open(self.err_path, "rb") as f:
            err = f.read()
        return self.popen.returncode, out, err

    def end(self):
        if self.popen.poll() is None:
            os.killpg(self.popen.pid, signal.SIGKILL)
            self.popen.wait(timeout=10)


class Sandbox:
    """One scenario's prefix, display and drives. Use as a context manager."""

    def __init__(self, template, name, failed=lambda: False):
        """`failed` tells on leaving whether the scenario's checks failed: the sandbox's files
        are then kept for a look, as they are after an exception or with ZARPO_WINE_KEEP=1."""
        # Next to the template, so that the prefix can be hard-linked to it.
        self.root = tempfile.mkdtemp(prefix="run-%s-" % name,
                                     dir=os.path.dirname(os.path.abspath(template)))
        self.prefix = os.path.join(self.root, "prefix")
        self.failed = failed
        self.processes = []
        self.server_started = False
        self.monitor = None
        self.display = None
        self.xvfb = None
        self.trace_path = os.path.join(self.root, "trace.txt")
        self.boxes_path = os.path.join(self.root, "boxes.txt")
        self.drives = {}
        # WINEDLLOVERRIDES entries for every process of the sandbox.
        self.dll_overrides = ""
        copy_prefix(template, self.prefix)

    def __enter__(self):
        return self

    def __exit__(self, kind, value, tb):
        self.close()
        if kind is None and not self.failed() and not os.environ.get("ZARPO_WINE_KEEP"):
            shutil.rmtree(self.root, ignore_errors=True)
        else:
            print("scenario files kept in " + self.root)
        return False

    def close(self):
        if os.path.isdir(self.prefix):
            subprocess.run([WINESERVER, "-k"], env=self.env(), timeout=scaled(30),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for process in self.processes:
            process.end()
        if self.xvfb is not None and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait(timeout=10)

    def env(self):
        return wine_environment(self.prefix, self.display, self.dll_overrides)

    # Drives ---------------------------------------------------------------------------------

    def map_drive(self, letter, kind, folder=None):
        """Drive `letter` as a folder of the sandbox (or `folder`, e.g. one on a mounted key
        disk), of Wine's drive type `kind` ("floppy": removable, "hd": fixed). Must come before
        the first Wine process starts, since Wine reads drive types once, when its server
        starts."""
        if self.server_started:
            raise Failure("drives must be mapped before Wine starts")
        folder = folder or os.path.join(self.root, "drive-" + letter)
        os.makedirs(folder, exist_ok=True)
        os.symlink(folder, os.path.join(self.prefix, "dosdevices", letter + ":"))
        self.drives[letter] = kind
        with open(os.path.join(self.prefix, "system.reg"), "a", encoding="ascii") as reg:
            reg.write("\n[Software\\\\Wine\\\\Drives] 1700000000\n")
            for key, value in sorted(self.drives.items()):
                reg.write('"%s:"="%s"\n' % (key, value))
        return folder

    # Processes ------------------------------------------------------------------------------

    def start_display(self, timeout=20):
        """Xvfb on a display number of its own choosing (reported through -displayfd); once
        per sandbox."""
        if self.display is not None:
            return
        timeout = scaled(timeout)
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            [XVFB, "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        deadline = time.monotonic() + timeout
        number = b""
        while not number.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or self.xvfb.poll() is not None:
                os.close(read_end)
                raise Failure("Xvfb did not start")
            import select
            ready, _, _ = select.select([read_end], [], [], remaining)
            if ready:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            raise Failure("Xvfb reported no display number")
        self.display = ":" + number.decode().strip()

    def start_server(self, timeout=30):
        """The prefix's wineserver, kept running until close(). Debian's Wine gives each
        server a directory of its own under /tmp and leaves its name in a file for the clients.
        When two processes start at once in a prefix with no server, each starts one and
        writes that file, and the loser ends at once ("chdir to /tmp/wine-…/server-…"). The
        same happens to a process that starts while a server whose last client has gone is
        ending. One persistent server, started before any process, leaves no such moment.
        `wineserver -p` returns once its socket is ready.

        The display comes first: the desktop process, which lives as long as the server, takes
        its display from the first program that needs one, a console program included."""
        if self.server_started:
            return
        self.start_display()
        subprocess.run([WINESERVER, "-p"], env=self.env(), timeout=scaled(timeout), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.server_started = True

    def start(self, name, exe, *args, keep_stdout=False):
        self.start_server()
        stem = os.path.join(self.root, "%02d-%s" % (len(self.processes) + 1, name))
        process = Process(name, [WINE, exe] + list(args), self.env(), stem, keep_stdout)
        self.processes.append(process)
        return process

    def run(self, name, exe, *args, timeout=60):
        """Runs a console program to its end; its exit code and standard output."""
        process = self.start(name, exe, *args, keep_stdout=True)
        code, out, err = process.wait(timeout)
        return code, out

    def start_monitor(self, monitor_exe, timeout=30):
        """The DebugMonitor window, appending every trace line to trace_path. Ready once the
        file exists (the monitor creates it after its window)."""
        process = self.start("DebugMonitor", monitor_exe, "/append", windows_path(self.trace_path))
        wait_for(lambda: os.path.exists(self.trace_path) or process.popen.poll() is not None,
                 timeout, "the DebugMonitor window")
        if process.popen.poll() is not None:
            raise Failure("DebugMonitor ended at once (exit code %d)" % process.popen.returncode)
        self.monitor = process
        return process

    def start_driver(self, driver_exe, count, answers=(), timeout=60):
        return self.start("dialog-driver", driver_exe, "--log", windows_path(self.boxes_path),
                          "--count", str(count),
                          *(["--answers", ",".join(answers)] if answers else []),
                          "--timeout", str(int(scaled(timeout))))

    def trace_lines(self):
        """The trace lines received, as byte strings."""
        if not os.path.exists(self.trace_path):
            return []
        with open(self.trace_path, "rb") as f:
            data = f.read()
        return data.split(b"\n")[:-1] if data else []

    def boxes(self):
        """The boxes recorded by the dialog driver, in order."""
        if not os.path.exists(self.boxes_path):
            return []
        with open(self.boxes_path, "rb") as f:
            return [parse_box(line) for line in f.read().decode("ascii").splitlines()]


def wait_for(condition, timeout, what, interval=0.05):
    timeout = scaled(timeout)
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise Failure("timed out after %d s waiting for %s" % (timeout, what))
        time.sleep(interval)


def parse_box(line):
    """One record of the dialog driver: {caption, text: bytes, buttons: [(id, bytes)], answer}."""
    fields = dict(part.split("=", 1) for part in line.split(" ")[1:])
    buttons = []
    for item in filter(None, fields["buttons"].split(";")):
        number, text = item.split(":", 1)
        buttons.append((int(number), bytes.fromhex(text)))
    return {"caption": bytes.fromhex(fields["caption"]), "text": bytes.fromhex(fields["text"]),
            "buttons": buttons, "answer": int(fields["answer"])}


def configure(args):
    """Takes the Wine loader, server, architecture and time scale from a scenario runner's
    command line (--wine, --wineserver, --arch, --time-scale)."""
    global WINE, WINESERVER, WINEARCH, TIME_SCALE
    if args.wine:
        WINE = args.wine
        WINESERVER = os.path.join(os.path.dirname(args.wine), "wineserver")
    if args.wineserver:
        WINESERVER = args.wineserver
    WINEARCH = args.arch
    TIME_SCALE = args.time_scale
