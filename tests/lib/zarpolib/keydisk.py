"""The key disks inside the emulated machine of scripts/vm32.sh: the disks vm32.sh attached,
found by their serials and mounted as a Linux desktop mounts a stick, the recordings' disks, and
the Linux build run against one of them as its drive E: (LinuxDrive). Shared by the key-disk
scenarios (tests/keydisk/guest.py) and the guest steps of the pulled-disk trial and of the
crash-state explorer.

ZARPO_KEYDISK_LINUX names the Linux build copied into the guest (empty when none was shared),
ZARPO_KEYDISK_LINUX_HOST the host folder it came from (for the message when there is none); both
are set by tests/wine/vm32-guest.sh.
"""
import os
import shutil
import subprocess
import tempfile

from zarpolib import wine
from zarpolib.scenario import UPDATER_TIMEOUT

# vfat as a Linux desktop mounts a stick (udisks2's options; as root here, so without its uid=
# and gid=) plus code page 932 for the short names; tests/wine/vm32-guest.sh mounts the FAT32
# key disk so too.
KEYDISK_OPTIONS = "utf8=1,shortname=mixed,codepage=932,showexec,flush"
# The recordings of tests/keydisk/crash_states.py: scenario -> (the serial of its disk, which
# vm32.sh run attaches through qemu's write log, the vfat options, the program). Each disk
# comes with an empty Zarpo folder; the updater installs the sample release there once.
RECORDINGS = {
    "keydisk-linux-record-flush": ("rec-linux-flush", KEYDISK_OPTIONS, "linux"),
    "keydisk-linux-record-noflush": ("rec-linux-noflush", KEYDISK_OPTIONS.replace(",flush", ""),
                                     "linux"),
    "keydisk-wine-record": ("rec-wine", KEYDISK_OPTIONS, "wine"),
}


def disk_of(serial):
    """The block device of the disk vm32.sh attached with `serial`, or None."""
    for block in os.listdir("/sys/block"):
        try:
            with open("/sys/block/%s/serial" % block) as f:
                if f.read().strip() == serial:
                    return "/dev/" + block
        except OSError:
            pass
    return None


def mount(serial, options):
    """The disk of `serial` mounted as vfat with `options`: its mount point."""
    device = disk_of(serial)
    if device is None:
        raise wine.Failure("no disk with the serial %s in the emulated machine" % serial)
    point = "/mnt/" + serial
    os.makedirs(point, exist_ok=True)
    subprocess.run(["mount", "-t", "vfat", "-o", options, device, point], check=True)
    return point


class LinuxDrive:
    """The Linux build with `root` as its drive E: (a drive table of its own), removable unless
    `kind` says otherwise, and debug-monitor keeping the raw trace lines (in `trace_path` when
    given). Use as a context manager."""

    @staticmethod
    def check_build():
        build = os.environ.get("ZARPO_KEYDISK_LINUX", "")
        if not build or not os.path.isfile(os.path.join(build, "ZarpoUpdate")):
            raise wine.Failure(
                "no Linux build in the emulated machine: vm32.sh run shared none (its --linux "
                "folder %r holds no ZarpoUpdate; build it with cmake --workflow --preset host)"
                % os.environ.get("ZARPO_KEYDISK_LINUX_HOST", ""))
        return build

    def __init__(self, root, kind="removable", trace_path=None):
        self.build = LinuxDrive.check_build()
        self.work = tempfile.mkdtemp(prefix="keydisk-linux-")
        table = os.path.join(self.work, "dosdevices")
        runtime = os.path.join(self.work, "run")
        os.makedirs(table)
        os.makedirs(runtime, mode=0o700)
        os.symlink(root, os.path.join(table, "e:"))
        with open(os.path.join(table, "drive-types"), "w") as f:
            f.write("e: %s\n" % kind)
        self.env = dict(os.environ, ZARPO_DOSDEVICES=table, XDG_RUNTIME_DIR=runtime)
        self.trace_path = trace_path or os.path.join(self.work, "trace.txt")
        self.monitor = subprocess.Popen(
            [os.path.join(self.build, "monitor", "debug-monitor"), "--raw", "--append",
             self.trace_path],
            env=self.env, stdout=subprocess.DEVNULL, start_new_session=True)
        socket = os.path.join(runtime, "DebugMonitor")
        wine.wait_for(lambda: os.path.exists(socket) or self.monitor.poll() is not None, 30,
                         "debug-monitor")
        if self.monitor.poll() is not None:
            raise wine.Failure("debug-monitor ended at once")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.monitor.terminate()
        self.monitor.wait(timeout=10)
        shutil.rmtree(self.work, ignore_errors=True)
        return False

    def run(self, program, *args, answers=""):
        """Exit code and standard output (UTF-8 text) of one of the build's programs."""
        try:
            done = subprocess.run([os.path.join(self.build, program)] + list(args),
                                  input=answers.encode(), stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, env=self.env,
                                  timeout=wine.scaled(UPDATER_TIMEOUT))
        except subprocess.TimeoutExpired:
            raise wine.Failure("%s did not end" % program)
        return done.returncode, done.stdout.decode("utf-8", errors="replace")

    def update(self):
        """The updater itself, answered Yes to the update and No to the setup."""
        return self.run("ZarpoUpdate", answers="y\nn\n")

    def install(self, path):
        """install-package-file: 1 when the package file was installed."""
        code, out = self.run(os.path.join("tests", "keydisk", "install-package-file"), path,
                             "E:\\Zarpo\\")
        if out.strip() not in ("installed", "failed"):
            raise wine.Failure("install-package-file: %s" % out.strip())
        return code == 0

    def trace_lines(self):
        if not os.path.exists(self.trace_path):
            return []
        with open(self.trace_path, "rb") as f:
            return f.read().split(b"\n")[:-1]
