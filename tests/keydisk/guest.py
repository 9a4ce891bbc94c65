#!/usr/bin/env python3
"""Key-disk scenarios on real FAT32 and exFAT disks, inside the emulated machine of
scripts/vm32.sh, whose kernel mounts them with its own vfat and exfat drivers.

    guest.py --list
    guest.py [the arguments of tests/wine/scenarios.py] --scenario NAME

The Linux build (ZarpoUpdate, debug-monitor, install-package-file) updates a folder of a disk
registered as removable drive E: through a drive table; the shipped PE32 does the same under
32-bit Wine, through the scenarios' machinery (zarpolib.scenario), with E: a floppy on another
folder of the same disk. Each scenario checks from Linux what the disk holds (names, bytes,
times, and on FAT the attribute byte through FAT_IOCTL_GET_ATTRIBUTES), writes NOTE lines for
what a file system or Wine cannot keep, and leaves in the results folder, for every product
folder it leaves on a disk, NAME.pkg (the files that must be there, as a package) and
NAME.expect ("IMAGE FOLDER LOST": LOST is the attribute letters that may be missing, or "-"),
which tests/keydisk/readback.py reads back on the host once the guest is off.

Set by tests/wine/vm32-guest.sh: ZARPO_KEYDISK_RESULTS (the results share),
ZARPO_KEYDISK_FAT32 and ZARPO_KEYDISK_EXFAT (the mounted disks), ZARPO_KEYDISK_LINUX (the Linux
build copied into the guest, empty when none was shared) and ZARPO_KEYDISK_LINUX_HOST (the host
folder it came from, for the message when there is none).
"""
import argparse
import fcntl
import os
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

import zarpo_format
from zarpo_format import EPOCH_AS_FILETIME, PackageEntry, filetime
from zarpolib import scenario
from zarpolib import wine
from zarpolib.keydisk import RECORDINGS, LinuxDrive, disk_of, mount
from zarpolib.scenario import CONFIRM, DONE, IDNO, IDYES, target

READONLY, HIDDEN, SYSTEM, ARCHIVE = 0x01, 0x02, 0x04, 0x20
# What a FAT directory entry holds of a file's attributes (directory and volume bits aside).
FAT_BITS = READONLY | HIDDEN | SYSTEM | ARCHIVE
# linux/msdos_fs.h: _IOR('r', 0x10, __u32).
FAT_IOCTL_GET_ATTRIBUTES = 0x80047210

# What each file system keeps of a file written from Linux: the attribute bits, and the step of
# its last-write time (the guest kernel truncates down to it; its time zone is UTC).
#   vfat: the whole attribute byte (through the ioctls), 2 s.
#   exfat on Linux 6.1: read-only through the mode only; hidden and system can be neither set
#   nor read from Linux, and the archive bit is not seen; 10 ms.
FILE_SYSTEMS = {
    "fat32": {"env": "ZARPO_KEYDISK_FAT32", "bits": FAT_BITS, "step_ns": 2 * 10**9},
    "exfat": {"env": "ZARPO_KEYDISK_EXFAT", "bits": READONLY | ARCHIVE, "step_ns": 10**7},
}
# Wine on Linux keeps hidden and system in user.DOSATTRIB, which neither file system has.
WINE_KEEPS = READONLY | ARCHIVE


def letters(bits):
    return "".join(c for c, b in (("R", READONLY), ("H", HIDDEN), ("S", SYSTEM), ("A", ARCHIVE))
                   if bits & b) or "-"


def held_time_ns(fs, last_write):
    ns = (last_write - EPOCH_AS_FILETIME) * 100
    return ns - ns % FILE_SYSTEMS[fs]["step_ns"]


def disk_attributes(fs, path):
    """The attribute bits of `path` as the disk holds them, read from Linux: on FAT the byte
    itself; on exFAT only read-only (no write bits in the mode), with ARCHIVE assumed."""
    if fs == "fat32":
        fd = os.open(path, os.O_RDONLY)
        try:
            raw = fcntl.ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, struct.pack("I", 0))
        finally:
            os.close(fd)
        return struct.unpack("I", raw)[0] & FAT_BITS
    return ARCHIVE | (0 if os.stat(path).st_mode & 0o222 else READONLY)


def disk_path(folder, name):
    """The Linux path of an entry name (code page 932 bytes, backslashes) below `folder`."""
    return os.path.join(folder, *name.decode("cp932").split("\\"))


def stat_snapshot(folder):
    """Every file's bytes, size, mtime and ctime (ns) below `folder`."""
    state = {}
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            info = os.stat(path)
            with open(path, "rb") as f:
                state[os.path.relpath(path, folder)] = (f.read(), info.st_mtime_ns,
                                                        info.st_ctime_ns)
    return state


def fresh_folder(fs, name):
    """An empty folder `name` at the top of disk `fs` (emptied when a first attempt left one)."""
    mount = os.environ.get(FILE_SYSTEMS[fs]["env"], "")
    if not mount or not os.path.ismount(mount):
        raise wine.Failure("the %s disk is not mounted at %r (see keydisk-mounts.log)"
                              % (fs, mount))
    root = os.path.join(mount, name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "Zarpo"))
    return root


def expect_on_host(scenario, fs, folder, entries, lost):
    """What readback.py must find in `folder` (relative to the disk's root) of image `fs`."""
    results = os.environ["ZARPO_KEYDISK_RESULTS"]
    with open(os.path.join(results, scenario + ".pkg"), "wb") as f:
        f.write(zarpo_format.build_package(entries))
    with open(os.path.join(results, scenario + ".expect"), "w", encoding="ascii") as f:
        f.write("%s %s %s\n" % (fs, folder, letters(lost)))


def note(text):
    print("NOTE: " + text)


class Keydisk:
    def __init__(self, ctx, name):
        self.ctx = ctx
        self.name = name
        self.checks = ctx.checks

    def sample(self, linux):
        """The sample release the program carries: the Linux build's own copy for it."""
        if not linux:
            return self.ctx.sample
        with open(os.path.join(linux.build, "package.bin"), "rb") as f:
            return zarpo_format.read_package(f.read())

    def check_linux_boxes(self, out, texts):
        """The boxes the Linux build showed on its terminal, in order: their texts only."""
        shown = [part.split(": ", 1)[1] for part in out.split("[ザルポの更新]\n")[1:]]
        shown = [text.split("\n[OK]")[0].split("\nはい(Y)")[0] for text in shown]
        self.checks.equal(shown, texts, "boxes of the Linux build")

    def check_disk(self, fs, folder, entries, keeps):
        """Names, bytes, times and (as far as Linux can read them) attributes of `entries` in
        `folder`; the file system's limits (`keeps`) are noted, not failed."""
        found = set()
        for root, _, files in os.walk(folder):
            found.update(os.path.relpath(os.path.join(root, f), folder) for f in files)
        wanted = {os.path.relpath(disk_path(folder, e.name), folder) for e in entries}
        self.checks.equal(sorted(found), sorted(wanted), "files in " + folder)
        kept = FILE_SYSTEMS[fs]["bits"] & keeps
        lost = 0
        for entry in entries:
            path = disk_path(folder, entry.name)
            if not os.path.exists(path):
                continue
            with open(path, "rb") as f:
                self.checks.true(f.read() == entry.data, "wrong contents in " + path)
            self.checks.equal(os.stat(path).st_mtime_ns, held_time_ns(fs, entry.last_write),
                              "mtime (ns) of " + path)
            self.checks.equal(letters(disk_attributes(fs, path)),
                              letters(entry.attributes & kept), "attributes on the disk of " + path)
            lost += bool(entry.attributes & FAT_BITS & ~kept)
        return lost

    def check_rerun(self, lines, entries, before, after, held):
        """A second run: `Existing` for every entry the disk can hold as it is, nothing of it
        written; an entry whose attributes it cannot hold (`held`: the bits it keeps) is found
        different and written again, and that is noted."""
        expected = []
        rewritten = 0
        for entry in entries:
            t = target("E", entry)
            kept = entry.attributes & held
            if kept == entry.attributes:
                expected.append(b"Existing [" + t + b"]")
                name = os.path.relpath(disk_path("/", entry.name), "/")
                self.checks.equal(after.get(name), before.get(name),
                                  "bytes, mtime and ctime of %s after the second run" % name)
            else:
                rewritten += 1
                difference = (kept - entry.attributes) & 0xFFFFFFFF
                expected += [b"Different [%s] 0, %X, 0" % (t, difference), b"[" + t + b"] 1"]
        self.ctx.check_trace(lines, expected)
        return rewritten


def linux_install(ctx, name, fs):
    """(a) The Linux build installs the sample release onto the disk, then a second run writes
    nothing."""
    k = Keydisk(ctx, name)
    root = fresh_folder(fs, "linux")
    zarpo = os.path.join(root, "Zarpo")
    with LinuxDrive(root) as linux:
        sample = k.sample(linux)
        code, out = linux.update()
        ctx.check_exit(code)
        k.check_linux_boxes(out, [CONFIRM % "E", DONE])
        ctx.check_trace(linux.trace_lines(), scenario.fresh_trace("E", sample))
        bits = FILE_SYSTEMS[fs]["bits"]
        k.check_disk(fs, zarpo, sample, FAT_BITS)
        cannot = [e for e in sample if e.attributes & FAT_BITS & ~bits]
        if cannot:
            note("%s on Linux %s cannot hold %s: %d of %d entries lose them"
                 % (fs, os.uname().release, letters(FAT_BITS & ~bits), len(cannot), len(sample)))
        before = stat_snapshot(zarpo)
        first = len(linux.trace_lines())
        code, out = linux.update()
        ctx.check_exit(code)
        k.check_linux_boxes(out, [CONFIRM % "E", DONE])
        rewritten = k.check_rerun(linux.trace_lines()[first:], sample, before,
                                  stat_snapshot(zarpo), bits)
        if rewritten:
            note("so the second run rewrites those %d files, as every later run will" % rewritten)
    if fs == "fat32":
        expect_on_host(name, fs, "linux/Zarpo", sample, 0)


def wine_view(sandbox, ctx, entries, folder):
    """What Win32 reports (stat.exe) for `entries` on E: under Wine."""
    targets = ["E:\\Zarpo\\%s" % e.name.decode("cp932") for e in entries]
    _, out = sandbox.run("stat", ctx.tool("stat"), *targets)
    return out.decode("ascii").splitlines()


def wine_install(ctx, name):
    """(c) The shipped PE32 under 32-bit Wine on the vfat mount: the sample release, then a
    second run."""
    k = Keydisk(ctx, name)
    fs = "fat32"
    root = fresh_folder(fs, "wine")
    zarpo = os.path.join(root, "Zarpo")
    with ctx.sandbox("keydisk-wine") as sandbox:
        sandbox.map_drive("e", "floppy", root)
        sample = ctx.sample
        ctx.check_exit(ctx.update(sandbox, ["yes", "no"], 2))
        ctx.check_boxes(sandbox, [scenario.confirm_box("E", IDYES), scenario.done_box(IDNO)])
        ctx.check_trace(sandbox.trace_lines(), scenario.fresh_trace("E", sample))
        lost = k.check_disk(fs, zarpo, sample, WINE_KEEPS)
        note("Wine keeps hidden and system in user.DOSATTRIB, which vfat has not: %d of %d "
             "files lost them silently" % (lost, len(sample)))
        reported = wine_view(sandbox, ctx, sample, zarpo)
        ctx.checks.equal(len(reported), len(sample), "lines from stat.exe")
        for entry, line in zip(sample, reported):
            held = held_time_ns(fs, entry.last_write) // 100 + EPOCH_AS_FILETIME
            want = "%08X %d %016X" % ((entry.attributes & WINE_KEEPS) | ARCHIVE, len(entry.data),
                                      held)
            ctx.checks.equal(line, want, "Win32 view of " + entry.name.decode("cp932"))
        before = stat_snapshot(zarpo)
        first = len(sandbox.trace_lines())
        os.remove(sandbox.boxes_path)
        ctx.check_exit(ctx.update(sandbox, ["yes", "no"], 2))
        ctx.check_boxes(sandbox, [scenario.confirm_box("E", IDYES), scenario.done_box(IDNO)])
        rewritten = k.check_rerun(sandbox.trace_lines()[first:], sample, before,
                                  stat_snapshot(zarpo), WINE_KEEPS)
        note("under Wine on vfat the second run rewrites the %d files with hidden or system"
             % rewritten)
    expect_on_host(name, fs, "wine/Zarpo", sample, HIDDEN | SYSTEM)


# (d) Case and alias. Files of the user's on the disk, each a whole even second old so that FAT
# holds its time exactly; the steps, each a package of one entry, in order.
PLANTED_TIME = filetime(2024, 5, 1, 12, 0, 0)
PLANTED = [(b"ZARPO.EXE", b"the old main program\r\n"),
           (b"ZarpoCore.dll", b"the user's core module\r\n"),
           (b"Dot.txt", b"the user's file\r\n")]
NAME_STEPS = [
    # An entry that differs from a file on the disk only in case overwrites it; the name stays.
    ("case", PackageEntry(b"Zarpo.exe", b"the new main program\r\n" * 3, 0x21,
                          filetime(2026, 3, 1, 9, 0, 0)), True),
    # The short alias vfat gives ZarpoCore.dll: refused, ZarpoCore.dll untouched.
    ("alias", PackageEntry(b"ZARPOC~1.DLL", b"never written\r\n", 0x20,
                           filetime(2026, 3, 1, 9, 0, 2)), False),
    # A trailing dot the file system would drop: refused, Dot.txt untouched.
    ("trailing dot", PackageEntry(b"Dot.txt.", b"never written\r\n", 0x20,
                                  filetime(2026, 3, 1, 9, 0, 4)), False),
]


def names(ctx, name, side):
    k = Keydisk(ctx, name)
    fs = "fat32"
    root = fresh_folder(fs, side + "-names")
    zarpo = os.path.join(root, "Zarpo")
    for disk_name, data in PLANTED:
        path = disk_path(zarpo, disk_name)
        with open(path, "wb") as f:
            f.write(data)
        ns = (PLANTED_TIME - EPOCH_AS_FILETIME) * 100
        os.utime(path, ns=(ns, ns))
    ctx.checks.equal(sorted(os.listdir(zarpo)), sorted(n.decode() for n, _ in PLANTED),
                     "the planted names as vfat lists them")
    ctx.checks.true(os.path.samefile(os.path.join(zarpo, "ZARPOC~1.DLL"),
                                     os.path.join(zarpo, "ZarpoCore.dll")),
                    "ZARPOC~1.DLL should open ZarpoCore.dll on vfat (shortname=mixed)")
    with (LinuxDrive(root) if side == "linux" else ctx.sandbox("keydisk-names")) as run:
        if side == "wine":
            run.map_drive("e", "floppy", root)
            ctx.begin(run)
        for step, entry, installs in NAME_STEPS:
            before = stat_snapshot(zarpo)
            seen = len(run.trace_lines())
            package = zarpo_format.build_package([entry])
            if side == "linux":
                path = os.path.join(run.work, "step.pkg")
                with open(path, "wb") as f:
                    f.write(package)
                ctx.checks.equal(run.install(path), installs, "result of the %s step" % step)
            else:
                if os.path.exists(run.boxes_path):
                    os.remove(run.boxes_path)
                updater = ctx.swapped_updater(run, package)
                ctx.check_exit(ctx.update(run, ["yes", "no"], 2, updater))
                last = scenario.done_box(IDNO) if installs else scenario.FAILED_BOX
                ctx.check_boxes(run, [scenario.confirm_box("E", IDYES), last])
            lines = run.trace_lines()[seen:]
            print("%s step, trace: %s" % (step, b" | ".join(lines).decode("cp932")))
            t = target("E", entry)
            if installs:
                ctx.checks.equal(len(lines), 2, "trace lines of the %s step" % step)
                ctx.checks.true(lines[:1] and lines[0].startswith(b"Different [" + t + b"] "),
                                "the %s step should find the file different: %r" % (step, lines))
                ctx.checks.equal(lines[1:], [b"[" + t + b"] 1"], "last trace line of " + step)
            else:
                ctx.checks.equal(lines[-1:], [b"[" + t + b"] 0"], "last trace line of " + step)
                ctx.checks.true(not any(line.endswith(b"] 1") for line in lines),
                                "the %s step wrote something: %r" % (step, lines))
                ctx.checks.equal(stat_snapshot(zarpo), before, "the folder after the %s step"
                                 % step)
        ctx.checks.equal(sorted(os.listdir(zarpo)), sorted(n.decode() for n, _ in PLANTED),
                         "the names on the disk after the steps")
    case = NAME_STEPS[0][1]
    expected = [PackageEntry(b"ZARPO.EXE", case.data, case.attributes, case.last_write)] + [
        PackageEntry(n, data, ARCHIVE, PLANTED_TIME) for n, data in PLANTED[1:]]
    k.check_disk(fs, zarpo, expected, FAT_BITS)
    expect_on_host(name, fs, side + "-names/Zarpo", expected, 0)


def conformance(ctx, name, fs):
    """The POSIX layer's conformance tests with their scratch drive on the disk, so that the
    cases that differ on FAT and exFAT (attributes dropped, time steps, names found through their
    case, aliases and trailing dots) meet the real drivers. The suites of the layer's own host
    storage (links, FIFOs, extended attributes) are left out: the disks hold none of those."""
    LinuxDrive.check_build()
    scratch = fresh_folder(fs, name)
    program = os.path.join(os.environ["ZARPO_KEYDISK_LINUX"], "tests", "platform-conformance")
    done = subprocess.run([program, "--gtest_filter=-Posix*", "--gtest_brief=1"],
                          env=dict(os.environ, ZARPO_TEST_DRIVES=scratch), stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=wine.scaled(120))
    print(done.stdout.decode("utf-8", errors="replace"))
    ctx.checks.equal(done.returncode, 0, "exit code of platform-conformance on %s" % fs)


def record(ctx, name):
    """One install of the sample release onto the disk of a recording (see RECORDINGS), its
    boxes answered Yes then No; the trace goes to the results as NAME.trace, and the disk is
    unmounted at the end, so that its log ends with everything written."""
    serial, options, side = RECORDINGS[name]
    trace = os.path.join(os.environ["ZARPO_KEYDISK_RESULTS"], name + ".trace")
    point = mount(serial, options)
    try:
        if side == "linux":
            with LinuxDrive(point, trace_path=trace) as linux:
                code, out = linux.update()
                ctx.check_exit(code)
                Keydisk(ctx, name).check_linux_boxes(out, [CONFIRM % "E", DONE])
        else:
            with ctx.sandbox(name) as sandbox:
                sandbox.map_drive("e", "floppy", point)
                ctx.check_exit(ctx.update(sandbox, ["yes", "no"], 2))
                ctx.check_boxes(sandbox, [scenario.confirm_box("E", IDYES),
                                          scenario.done_box(IDNO)])
                with open(trace, "wb") as f:
                    f.writelines(line + b"\n" for line in sandbox.trace_lines())
    finally:
        subprocess.run(["umount", point], check=True)


def flushes(device):
    """Flush requests the disk has completed (the 16th of its block statistics)."""
    with open("/sys/block/%s/stat" % os.path.basename(device)) as f:
        return int(f.read().split()[15])


def trace_span(path, step):
    """Runs `step` while watching the trace file at `path` grow: the seconds from its first new
    line to its last, which for an install are the comparison of the first entry to the written
    result of the last (the boxes before and after are left out)."""
    start = os.path.getsize(path) if os.path.exists(path) else 0
    seen, stop = [], threading.Event()

    def watch():
        size = start
        while not stop.is_set():
            now = os.path.getsize(path) if os.path.exists(path) else 0
            if now != size:
                seen.append(time.monotonic())
                size = now
            time.sleep(0.005)
    watcher = threading.Thread(target=watch)
    watcher.start()
    try:
        step()
    finally:
        stop.set()
        watcher.join()
    return seen[-1] - seen[0] if len(seen) > 1 else 0.0


def cost(ctx, name):
    """On demand: the sample release installed onto the FAT32 disk by each program, in
    interleaved rounds against cp -r of the same files followed by sync, all on the same mount.
    The programs are the Linux build and the PE32, and where the run's builds hold a before/
    folder (a ZarpoUpdate of the Linux build, a ZarpoUpdate.exe), those too. A program's time is
    the span of its trace lines (the boxes left out: under emulated Wine they take seconds)
    and the sync after it ends; the flushes are the disk's own count over both."""
    rounds = 4
    device = disk_of("zarpo-fat32")
    sample = ctx.sample
    release = tempfile.mkdtemp(prefix="release-")
    for e in sample:
        path = disk_path(os.path.join(release, "Zarpo"), e.name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(e.data)
    linux_build = LinuxDrive.check_build()
    programs = [("cp -r + sync", None, None), ("linux", "linux", None), ("pe32", "wine", None)]
    before = "/mnt/linux/before/ZarpoUpdate"
    if os.path.exists(before):
        shutil.copy(before, os.path.join(linux_build, "ZarpoUpdate-before"))
        programs.append(("linux before", "linux", os.path.join(linux_build, "ZarpoUpdate-before")))
    if os.path.exists(os.path.join(ctx.build, "before", "ZarpoUpdate.exe")):
        programs.append(("pe32 before", "wine", os.path.join(ctx.build, "before",
                                                             "ZarpoUpdate.exe")))
    roots = {kind: fresh_folder("fat32", "cost-" + kind) for kind in ("cp", "linux", "wine")}

    def emptied(root):
        shutil.rmtree(os.path.join(root, "Zarpo"))
        os.makedirs(os.path.join(root, "Zarpo"))
        os.sync()
        return root

    def timed(step, trace=None):
        count, started = flushes(device), time.monotonic()
        written = trace_span(trace, step) if trace else (step(), time.monotonic() - started)[1]
        started = time.monotonic()
        os.sync()
        return written + time.monotonic() - started, written, flushes(device) - count

    results = {}
    with LinuxDrive(roots["linux"]) as linux, ctx.sandbox(name) as sandbox:
        sandbox.map_drive("e", "floppy", roots["wine"])

        def run(side, program):
            if side == "linux":
                code, _ = linux.run(program or "ZarpoUpdate", answers="y\nn\n")
            else:
                if os.path.exists(sandbox.boxes_path):
                    os.remove(sandbox.boxes_path)
                code = ctx.update(sandbox, ["yes", "no"], 2, program)
            ctx.check_exit(code)

        for number in range(rounds):
            for title, side, program in programs:
                if side is None:
                    root = emptied(roots["cp"])
                    total, written, count = timed(lambda: subprocess.run(
                        "cp -r %s/Zarpo/. %s/Zarpo/" % (release, root), shell=True, check=True))
                else:
                    emptied(roots[side])
                    trace = linux.trace_path if side == "linux" else sandbox.trace_path
                    total, written, count = timed(lambda: run(side, program), trace)
                results.setdefault(title, []).append((total, count))
                print("round %d %-14s %6.2f s (writing %.2f s, then the sync), %d flushes"
                      % (number, title, total, written, count))
    base = statistics.median(t for t, _ in results["cp -r + sync"])
    print("\n%d files; the median of %d rounds:" % (len(sample), rounds))
    for title, runs in results.items():
        median = statistics.median(t for t, _ in runs)
        print("  %-14s %6.2f s  %4.2fx cp -r + sync  %5.1f flushes a file"
              % (title, median, median / base, statistics.median(c for _, c in runs)
                 / len(sample)))
    shutil.rmtree(release)


SCENARIOS = {
    "keydisk-linux-conformance-fat32": lambda ctx, n: conformance(ctx, n, "fat32"),
    "keydisk-linux-conformance-exfat": lambda ctx, n: conformance(ctx, n, "exfat"),
    "keydisk-linux-fat32": lambda ctx, n: linux_install(ctx, n, "fat32"),
    "keydisk-linux-exfat": lambda ctx, n: linux_install(ctx, n, "exfat"),
    "keydisk-linux-names": lambda ctx, n: names(ctx, n, "linux"),
    "keydisk-wine-fat32": wine_install,
    "keydisk-wine-names": lambda ctx, n: names(ctx, n, "wine"),
}
SCENARIOS.update((name, record) for name in RECORDINGS)
# Run only when asked for by name (vm32.sh run --scenario), never in the whole run.
ON_DEMAND = {"keydisk-cost": cost}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--all", action="store_true", help="with --list: the on-demand ones too")
    parser.add_argument("--build")
    parser.add_argument("--source")
    parser.add_argument("--template")
    parser.add_argument("--wine")
    parser.add_argument("--wineserver")
    parser.add_argument("--arch", choices=["win32", "win64"], default="win32")
    parser.add_argument("--time-scale", type=float, default=1.0)
    parser.add_argument("--scenario", choices=sorted(SCENARIOS) + sorted(ON_DEMAND))
    args = parser.parse_args()
    if args.list:
        print("\n".join(list(SCENARIOS) + (list(ON_DEMAND) if args.all else [])))
        return 0
    wine.configure(args)

    def stopped(signum, frame):
        raise wine.Failure("stopped from outside (signal %d), most likely a time-out" % signum)
    signal.signal(signal.SIGTERM, stopped)
    started = time.monotonic()
    ctx = scenario.Context(args)
    try:
        dict(SCENARIOS, **ON_DEMAND)[args.scenario](ctx, args.scenario)
    except wine.Failure as failure:
        print("FAIL: %s: %s" % (args.scenario, failure))
        return 1
    for message in ctx.checks.failures:
        print("FAIL: " + message)
    print("%s: %s in %.1f s" % (args.scenario, "failed" if ctx.checks.failures else "passed",
                                time.monotonic() - started))
    return 1 if ctx.checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
