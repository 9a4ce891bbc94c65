#!/usr/bin/env python3
"""A key disk pulled while the updater writes it: the emulated machine of scripts/vm32.sh is
killed from this side (SIGKILL to qemu), so whatever its kernel had not yet written to the FAT32
image is lost, as when a stick leaves its socket. Then, as a user would go on:

  1. the Linux build installs the package onto a fresh FAT32 image (drive E:, removable, mounted
     as the key-disk scenarios mount it), and qemu is killed once the cut's file has begun and a
     further delay has passed (both drawn from --seed);
  2. fsck.fat -a repairs the image here;
  3. the machine boots afresh and the updater runs again with the same package;
  4. every file on the image is hashed against its entry. A file the second run called Existing
     whose contents were wrong before it (read here after the repair) is a torn file blessed:
     there must be none, and every entry must end with its own contents.

Each boot but the first and last does step 3 for one cut and step 1 for the next, so N cuts
take N + 1 boots.

    pulled_disk.py [--cuts N] [--seed S] [--double] [--options MOUNT_OPTIONS]
                   [--linux DIR] [--out DIR]
    pulled_disk.py --cost RUNS [--cost-options OPTS]...
                   install times, written through or not

Each boot's step inside the guest is pulled_disk_guest.py's.

--double installs a variant of the sample release with every file's contents twice over.
--cost times installs in one boot, RUNS per mount option set, each onto a fresh folder of the
drive registered as removable (written through) and as fixed (left to the cache).
"""
import argparse
import hashlib
import os
import random
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time

import zarpo_format
from zarpolib import wine
from zarpolib.images import fat32, fresh_image, image_files
from zarpolib.keydisk import KEYDISK_OPTIONS

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))

PREFIX = b"E:\\Zarpo\\"
# The longest the cut waits after its file's first trace line (the updater writes a file of the
# sample release in about 0.1 s in the guest).
MAX_DELAY = 0.25


# On the host --------------------------------------------------------------------------------

def read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return f.read().split(b"\n")[:-1]


def entries_past_end(image):
    """Live entries that follow an end-of-folder entry (first byte 0) in some folder of a FAT32
    image: Linux's driver reads on past that entry, Windows' driver and mtools stop there."""
    with open(image, "rb") as f:
        disk = f.read()
    records, root = fat32(disk)
    past, folders, done = 0, [root], set()
    while folders:
        folder = folders.pop()
        if folder in done:
            continue
        done.add(folder)
        ended = False
        for record in records(folder):
            if record[0] == 0:
                ended = True
            elif record[0] != 0xE5 and record[11] != 0x0F and not record[11] & 0x08:
                past += ended
                if record[11] & 0x10 and record[0:1] != b".":
                    folders.append(struct.unpack_from("<H", record, 20)[0] << 16
                                   | struct.unpack_from("<H", record, 26)[0])
    return past


class Boots:
    def __init__(self, args, package):
        self.args, self.package, self.count = args, package, 0

    def boot(self, params, disks, cut=None):
        """One boot of the guest for `params`; with `cut` = (k, delay), qemu is killed `delay`
        seconds after the trace shows file k begun (or at once once the install ended). The
        boot's folder, and "during" or "after" for a cut."""
        folder = os.path.join(self.args.out, "boot-%d" % self.count)
        self.count += 1
        os.makedirs(folder)
        shutil.copy(self.package, os.path.join(folder, "package.pkg"))
        with open(os.path.join(folder, "params"), "w") as f:
            f.writelines("%s=%s\n" % item for item in params.items())
            f.write("runner=pulled_disk_guest.py\n")
        command = ["bash", os.path.join(SOURCE, "scripts", "vm32.sh"), "boot",
                   "--linux", self.args.linux, "--out", folder]
        for serial, image in disks:
            command += ["--disk", "%s=%s" % (serial, image)]
        started = time.monotonic()
        for attempt in (1, 2):
            qemu = subprocess.Popen(command)
            when = self.cut(folder, qemu, *cut) if cut else None
            if qemu.wait() == 0:
                break
            # qemu itself has crashed here now and then before the guest printed anything:
            # nothing was touched, so the boot is made again once.
            console = os.path.join(folder, "console.log")
            if attempt == 2 or (os.path.exists(console) and os.path.getsize(console)):
                raise wine.Failure("boot %s failed (see its console.log)" % folder)
            print("boot %s: qemu ended before the guest started; booting again" % folder)
        if not cut:
            with open(os.path.join(folder, "step.rc")) as f:
                if f.read().strip() != "0":
                    raise wine.Failure("the guest's step failed: see %s/step.log" % folder)
        print("boot %s: %.0f s" % (os.path.basename(folder), time.monotonic() - started))
        return folder, when

    def cut(self, folder, qemu, k, delay):
        trace = os.path.join(folder, "cut.trace")
        began = b"NotFound [" + PREFIX
        deadline = time.monotonic() + 1200
        when = "during"
        while sum(line.startswith(began) for line in read_lines(trace)) <= k:
            if os.path.exists(os.path.join(folder, "installed")):
                when = "after"
                break
            if qemu.poll() is not None:
                return None
            if time.monotonic() > deadline:
                raise wine.Failure("the guest did not reach its cut (see %s)" % folder)
            time.sleep(0.01)
        if when == "during":
            time.sleep(delay)
            if os.path.exists(os.path.join(folder, "installed")):
                when = "after"
        with open(os.path.join(folder, "qemu.pid")) as f:
            pid = int(f.read())
        with open(os.path.join(folder, "cut"), "w") as f:
            f.write("%s\n" % when)
        os.kill(pid, signal.SIGKILL)
        return when


def judge(entries, before, after, trace):
    """(Existing, written, blessed torn, unseen, wrong after, extra after) of one cut's second
    run: torn files are there with other contents, unseen ones are not there for mtools."""
    wanted = {e.name: hashlib.sha256(e.data).digest() for e in entries}
    existing = {line[len(b"Existing [" + PREFIX):-1] for line in trace
                if line.startswith(b"Existing [" + PREFIX)}
    written = sum(line.endswith(b"] 1") for line in trace)
    blessed = sorted(n for n in existing if n in before and before[n] != wanted.get(n))
    unseen = sorted(n for n in existing if n not in before)
    wrong = sorted(n for n in wanted if after.get(n) != wanted[n])
    extra = sorted(set(after) - set(wanted))
    return len(existing), written, blessed, unseen, wrong, extra


def trial(args, entries, package):
    rng = random.Random(args.seed)
    cuts = [(rng.randrange(len(entries)), rng.uniform(0, MAX_DELAY)) for _ in range(args.cuts)]
    boots = Boots(args, package)
    params = {"step": "trial", "options": args.options}
    images = [os.path.join(args.out, "cut-%d.img" % i) for i in range(args.cuts)]
    rows, failures = [], []
    before = None
    for i in range(args.cuts + 1):
        disks = []
        if i > 0:
            disks.append(("zarpo-check", images[i - 1]))
        if i < args.cuts:
            fresh_image(images[i])
            disks.append(("zarpo-cut", images[i]))
        folder, when = boots.boot(params, disks, cuts[i] if i < args.cuts else None)
        if i > 0:
            after = image_files(images[i - 1]) or {}
            with open(os.path.join(folder, "check.rc")) as f:
                installed = f.read().split()[0] == "1"
            existing, written, blessed, unseen, wrong, extra = judge(
                entries, before, after, read_lines(os.path.join(folder, "check.trace")))
            rows[-1] += [existing, written, len(blessed), len(unseen), len(wrong), len(extra),
                         entries_past_end(images[i - 1])]
            failures += ["cut %d: torn file called Existing: %s" % (i - 1, n.decode("cp932"))
                         for n in blessed]
            failures += ["cut %d: wrong contents after the second run: %s"
                         % (i - 1, n.decode("cp932")) for n in wrong]
            if not installed:
                failures.append("cut %d: the second run failed" % (i - 1))
        if i < args.cuts:
            done = subprocess.run(["fsck.fat", "-a", images[i]], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT)
            log = done.stdout.decode("utf-8", "replace")
            with open(os.path.join(folder, "fsck.log"), "w") as f:
                f.write(log)
            subprocess.run(["cp", "--sparse=always", images[i], images[i] + ".repaired"],
                           check=True)
            before = image_files(images[i]) or {}
            wanted = {e.name: hashlib.sha256(e.data).digest() for e in entries}
            right = sum(before.get(n) == h for n, h in wanted.items())
            missing = sum(n not in before for n in wanted)
            k, delay = cuts[i]
            rows.append([i, k, "%.0f" % (delay * 1000), when, right, len(wanted) - right - missing,
                         missing, entries_past_end(images[i]), done.returncode,
                         log.count("Auto-renaming")])
    # Before the second run: right, torn, missing (for mtools), past (entries after an end of
    # folder), fsck's exit code and renames. The second run: Existing, written, blessed (torn
    # and called Existing), unseen (called Existing, not there for mtools). After it: wrong,
    # extra (fsck's renamed leftovers), past.
    header = ["cut", "file", "ms", "killed", "right", "torn", "missing", "past", "fsck",
              "renamed", "Existing", "written", "blessed", "unseen", "wrong", "extra", "past"]
    print("\n%d entries, %d cuts, seed %d, options %s%s"
          % (len(entries), args.cuts, args.seed, args.options,
             ", sizes doubled" if args.double else ""))
    print(" ".join("%8s" % h for h in header))
    for row in rows:
        print(" ".join("%8s" % v for v in row))
    totals = [sum(r[c] for r in rows) for c in (12, 13, 14)]
    print("totals: %d torn files called Existing, %d unseen files called Existing, %d files "
          "wrong after the second run" % tuple(totals))
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


def cost(args, package):
    boots = Boots(args, package)
    image = os.path.join(args.out, "cost.img")
    fresh_image(image)
    folder, _ = boots.boot({"step": "cost", "runs": args.cost,
                            "cost_options": ";".join(args.cost_options)},
                           [("zarpo-cost", image)])
    times = {}
    with open(os.path.join(folder, "cost.txt")) as f:
        for line in f:
            options, kind, _, installed, seconds, synced = line.split()
            if installed != "1":
                print("FAIL: an install failed (%s, %s)" % (options, kind))
                return 1
            times.setdefault((options, kind), []).append((float(seconds), float(synced)))
    print("\nmedian install time in the guest over %d runs (then the sync after it):" % args.cost)
    for (options, kind), runs in sorted(times.items()):
        print("  %-55s %-9s %6.2f s  (+%.2f s)  runs: %s"
              % (options, kind, statistics.median(r[0] for r in runs),
                 statistics.median(r[1] for r in runs), " ".join("%.2f" % r[0] for r in runs)))
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cuts", type=int, default=8)
    parser.add_argument("--seed", type=int, default=22)
    parser.add_argument("--double", action="store_true")
    parser.add_argument("--options", default=KEYDISK_OPTIONS)
    parser.add_argument("--cost", type=int, default=0)
    parser.add_argument("--cost-options", action="append")
    parser.add_argument("--linux", default=os.path.join(SOURCE, "build", "host"))
    parser.add_argument("--out")
    args = parser.parse_args()
    args.linux = os.path.abspath(args.linux)
    args.cost_options = args.cost_options or [KEYDISK_OPTIONS]
    args.out = os.path.abspath(args.out or tempfile.mkdtemp(prefix="pulled-disk-"))
    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    with open(os.path.join(args.linux, "package.bin"), "rb") as f:
        sample = f.read()
    entries = zarpo_format.read_package(sample)
    package = os.path.join(args.out, "package.pkg")
    with open(package, "wb") as f:
        if args.double:
            entries = [zarpo_format.PackageEntry(e.name, e.data * 2, e.attributes, e.last_write)
                       for e in entries]
            f.write(zarpo_format.build_package(entries))
        else:
            f.write(sample)
    print("pulled-disk trial in %s with the Linux build %s" % (args.out, args.linux))
    try:
        return cost(args, package) if args.cost else trial(args, entries, package)
    except wine.Failure as failure:
        print("FAIL: %s" % failure)
        return 1


if __name__ == "__main__":
    sys.exit(main())
