#!/usr/bin/env python3
"""Every state a crash can leave on a FAT32 key disk while an updater installs the sample
release, built from a log of the block writes the emulated machine sent to the disk, and each
judged as the next run would see it.

A recording (a scenario of guest.py, listed in zarpolib.keydisk's RECORDINGS, in a boot of
scripts/vm32.sh run) leaves in the results folder REC.base.img, the disk before the install,
and REC.log, every write and flush the guest sent to it, in the dm-log-writes format of qemu's
blklogwrites driver. Writes between two flushes may reach the medium in any order, any of them
or none; a flush orders them. So the states are:
  - the disk before any write, and every prefix of the log that ends at a flush;
  - for each epoch (the writes between two flushes, and those after the last), up to --bound
    subsets of its writes drawn from --seed, applied over the prefix before it; a write is
    applied whole (whole sectors, never torn).
Each state is judged as left, and again after fsck.fat -a. For every entry of the package:
  - called up to date: the directory holds it with the entry's size, the attributes the
    recording's program reads back (the Linux build: the entry's attribute byte; the PE32 under
    Wine on vfat: read-only and archive only, so a hidden or system entry never is) and the
    entry's last-write time at the two-second step;
  - torn: mtools (mcopy) reads other contents, or none; for a file that Linux's vfat finds
    past an end-of-folder mark, where mtools stops, the bytes along its cluster chain.
A file called up to date while torn is the fault: every later run would leave it broken. The
directories are read as Linux's vfat reads them, on past an end-of-folder mark (Windows and
mtools stop there, and so see less): the count can only be higher than on Windows.

The judge is checked on the Linux recordings (--check K): K states drawn from the seed are
booted, the Linux build updates each once more, and its Existing trace lines must name exactly
the files judged up to date as left.

    crash_states.py explore --results DIR [--which REC]... [--seed S] [--bound N] [--check K]
                            [--package FILE] [--linux DIR]
    crash_states.py record --out DIR --build WIN32_DIR [--linux DIR] [--which REC]...
    crash_states.py cost --out DIR --build WIN32_DIR [--linux DIR] [--before-build WIN32_DIR]
                         [--before-linux DIR]
    crash_states.py self-check [--linux DIR] [--bound N]
    crash_states.py --guest DIR        (in the guest: the check's boot, from vm32-guest.sh)

`record` boots the emulated machine for the recordings alone (the same as the whole run makes);
RECs are the disks' serials (rec-linux-flush, rec-linux-noflush, rec-wine). `cost` boots it for
guest.py's keydisk-cost: the installs of each build (and of the builds before a change, given
as --before-*) timed against cp -r and sync, with the disk's flushes counted. `self-check`
holds the explorer itself to two logs made here, without the emulated machine.
"""
import argparse
import hashlib
import mmap
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time

import zarpo_format
from zarpo_format import EPOCH_AS_FILETIME
from zarpolib import wine
from zarpolib.images import MTOOLS_ENV, fat32, fresh_image, image_files
from zarpolib.keydisk import RECORDINGS, LinuxDrive, mount

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))

SERIALS = {serial: (scenario, options, side) for scenario, (serial, options, side)
           in RECORDINGS.items()}
CHUNK = 65536

# The log (dm-log-writes): a superblock in sector 0, then one entry a sector (sector, count,
# flags, data length), followed by its data unless it is a discard.
LOG_MAGIC, LOG_VERSION = 0x6A736677736872, 1
LOG_FLUSH, LOG_FUA, LOG_DISCARD, LOG_MARK = 1, 2, 4, 8


def read_log(path):
    """(writes, flushes): `writes` the (byte offset, data) of every write in log order, with
    None where a flush stands; entries past the superblock's count, which qemu brings up to
    date only at a flush, are read on to the end of the file."""
    with open(path, "rb") as f:
        log = f.read()
    if len(log) < 28:
        raise wine.Failure("%s holds no log" % path)
    magic, version, count, size = struct.unpack_from("<QQQI", log)
    if magic != LOG_MAGIC or version != LOG_VERSION or size < 32 or size & (size - 1):
        raise wine.Failure("%s is not a write log (magic %x, version %d, sector %d)"
                              % (path, magic, version, size))
    ops, at, index = [], size, 0
    while at + 32 <= len(log):
        sector, sectors, flags, _ = struct.unpack_from("<QQQQ", log, at)
        if flags & ~(LOG_FLUSH | LOG_FUA | LOG_DISCARD | LOG_MARK):
            break
        if index >= count and not (sector or sectors or flags):
            break  # the zeros past the last entry
        at += size
        if not flags & LOG_DISCARD and sectors:
            data = log[at:at + sectors * size]
            if len(data) < sectors * size:
                break  # an entry whose data never reached the log
            at += len(data)
            ops.append((sector * size, data))
        # A discarded range reads back as anything: it is left as it was.
        if flags & (LOG_FLUSH | LOG_FUA):
            ops.append(None)
        index += 1
    return ops, index, count


def crash_states(ops, seed, bound):
    """[(label, [op indexes applied over the base])]: the prefixes that end at a flush, and per
    epoch up to `bound` distinct proper subsets of its writes over the prefix before it."""
    rng = random.Random(seed)
    epochs, epoch = [], []
    for i, op in enumerate(ops):
        if op is None:
            epochs.append(epoch)
            epoch = []
        else:
            epoch.append(i)
    epochs.append(epoch)  # the writes after the last flush, if any
    states, prefix = [("before any write", [])], []
    for number, epoch in enumerate(epochs):
        drawn = set()
        for _ in range(8 * bound):
            if len(drawn) >= bound or len(epoch) < 2:
                break
            subset = tuple(i for i in epoch if rng.random() < 0.5)
            if 0 < len(subset) < len(epoch):
                drawn.add(subset)
        states += [("epoch %d, %d of %d writes" % (number, len(s), len(epoch)), prefix + list(s))
                   for s in sorted(drawn)]
        prefix = prefix + epoch
        if epoch:
            last = number == len(epochs) - 1  # writes no flush followed
            states.append(("all writes" if last else "flush %d" % (number + 1), prefix))
    return states


class Image:
    """The disk as a state leaves it, written out as a sparse file: only the chunks that the
    base or any write of the log holds are written."""

    def __init__(self, base_path, ops):
        with open(base_path, "rb") as f:
            self.base = f.read()
        zero = bytes(CHUNK)
        self.chunks = {i for i in range(0, len(self.base), CHUNK)
                       if self.base[i:i + CHUNK] != zero}
        for op in ops:
            if op is not None:
                offset, data = op
                self.chunks.update(range(offset - offset % CHUNK, offset + len(data), CHUNK))
        self.chunks = sorted(c for c in self.chunks if c < len(self.base))

    def write(self, ops, indexes, path):
        changed = {}
        for i in indexes:
            offset, data = ops[i]
            at = 0
            while at < len(data):
                c = (offset + at) - (offset + at) % CHUNK
                chunk = changed.get(c)
                if chunk is None:
                    chunk = changed[c] = bytearray(self.base[c:c + CHUNK])
                start = offset + at - c
                part = data[at:at + CHUNK - start]
                chunk[start:start + len(part)] = part
                at += len(part)
        with open(path, "wb") as f:
            f.truncate(len(self.base))
            for c in self.chunks:
                f.seek(c)
                f.write(changed.get(c) or self.base[c:c + CHUNK])


def fat_files(path):
    """{name below Zarpo (code page 932, backslashes): (attribute byte, size, DOS date << 16 |
    time, sha256 of the size's bytes along the cluster chain, or None where the chain is cut
    short)} from the FAT32 directory entries, read as Linux's vfat reads them: on past an
    end-of-folder mark, long names where their checksum matches."""
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as disk:
        records, root = fat32(disk)

        def digest(cluster, length):
            chunks = []
            for record in records(cluster):
                chunks.append(record)
                if 32 * len(chunks) >= length:
                    return hashlib.sha256(b"".join(chunks)[:length]).digest()
            return hashlib.sha256(b"").digest() if length == 0 else None

        def listing(cluster):
            long_parts, found = {}, []
            for record in records(cluster):
                if record[0] in (0, 0xE5):
                    long_parts = {}
                elif record[11] == 0x0F:
                    long_parts[record[0] & 0x1F] = (record[13], record[1:11] + record[14:26]
                                                    + record[28:32])
                elif not record[11] & 0x08:
                    short = record[:11]
                    check = 0
                    for byte in short:
                        check = (((check & 1) << 7) + (check >> 1) + byte) & 0xFF
                    parts = [long_parts.get(n) for n in range(1, len(long_parts) + 1)]
                    if parts and all(p and p[0] == check for p in parts):
                        name = b"".join(p[1] for p in parts).decode("utf-16-le", "replace")
                        name = name.split("\0")[0].encode("cp932", "replace")
                    else:
                        stem, ext = short[:8].rstrip(b" "), short[8:].rstrip(b" ")
                        stem = stem.lower() if record[12] & 0x08 else stem
                        ext = ext.lower() if record[12] & 0x10 else ext
                        stem = b"\xe5" + stem[1:] if stem[:1] == b"\x05" else stem
                        name = stem + (b"." + ext if ext else b"")
                    first = struct.unpack_from("<H", record, 20)[0] << 16 | \
                        struct.unpack_from("<H", record, 26)[0]
                    found.append((name, record[11], struct.unpack_from("<I", record, 28)[0],
                                  struct.unpack_from("<I", record, 22)[0], first))
                    long_parts = {}
            return found

        files, folders = {}, [(b"", root)]
        for _ in range(1000):  # a bound against folders that lead into each other
            if not folders:
                break
            prefix, cluster = folders.pop()
            for name, attributes, length, stamp, first in listing(cluster):
                if name in (b".", b".."):
                    continue
                key = prefix + name
                if prefix == b"" and name.lower() != b"zarpo":
                    continue
                if attributes & 0x10:
                    folders.append((key + b"\\", first))
                elif prefix:
                    files[key[len(b"zarpo\\"):]] = (attributes, length, stamp,
                                                     digest(first, length))
        return files


def dos_key(filetime):
    """The entry's last-write time as FileTimeToDosDateTime gives it (odd second dropped)."""
    t = time.gmtime((filetime - EPOCH_AS_FILETIME) // 10**7)
    if not 1980 <= t.tm_year <= 2107:
        return 0
    return ((t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday) << 16 | \
        (t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2)


def file_digest(path, name):
    """The sha256 of the file `name` below Zarpo as mtools reads it, or None."""
    with tempfile.TemporaryDirectory() as copy:
        local = os.path.join(copy, "file")
        source = "::/Zarpo/" + name.decode("cp932").replace("\\", "/")
        done = subprocess.run(["mcopy", "-i", path, "-n", source, local],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=MTOOLS_ENV)
        if done.returncode != 0 or not os.path.isfile(local):
            return None
        with open(local, "rb") as f:
            return hashlib.sha256(f.read()).digest()


def read_back(attributes, side):
    """The attributes the recording's program reads for a file whose entry holds `attributes`:
    the Linux build reads the byte; Wine on vfat reads read-only from the mode and always
    reports archive."""
    if side == "linux":
        return attributes & 0x27
    return 0x20 | (attributes & 0x01)


def judge(path, entries, side):
    """(names called up to date, names torn, of those the names called up to date while torn),
    or None when mtools cannot read the state."""
    read = image_files(path)
    if read is None:
        return None
    listed = {name.lower(): value for name, value in fat_files(path).items()}
    current, torn = set(), set()
    for e in entries:
        found = listed.get(e.name.lower())
        if found and found[1] == len(e.data) and found[2] == dos_key(e.last_write) and \
                read_back(found[0], side) == e.attributes:
            current.add(e.name)
        digest = read.get(e.name)
        if digest is None and e.name in current:
            # mcopy -s gives up on a whole folder at the first entry it cannot read: a file it
            # left out is asked for by itself. One it cannot find at all lies past an
            # end-of-folder mark, where Linux's vfat still reads it along its chain.
            digest = file_digest(path, e.name) or found[3]
        if digest != hashlib.sha256(e.data).digest():
            torn.add(e.name)
    return current, torn, current & torn


def explore(args, serial, entries, work):
    """Builds and judges every state of one recording; returns its row and failures."""
    scenario, options, side = SERIALS[serial]
    ops, read_entries, counted = read_log(os.path.join(args.results, serial + ".log"))
    image = Image(os.path.join(args.results, serial + ".base.img"), ops)
    states = crash_states(ops, args.seed, args.bound)
    writes = sum(op is not None for op in ops)
    print("%s: %d log entries (the superblock counts %d), %d writes, %d flushes, %d states"
          % (serial, read_entries, counted, writes, len(ops) - writes, len(states)))
    judgeable = [e for e in entries if read_back(e.attributes, side) == e.attributes]
    row = {"states": len(states), "blessed": 0, "unreadable": 0, "unreadable after fsck": 0,
           "judgeable": len(judgeable)}
    failures, left_as, last = [], {}, None
    path = os.path.join(work, "state.img")
    for number, (label, indexes) in enumerate(states):
        image.write(ops, indexes, path)
        for when in ("as left", "after fsck"):
            if when == "after fsck":
                subprocess.run(["fsck.fat", "-a", path], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            verdict = judge(path, entries, side)
            if verdict is None:
                row["unreadable" + ("" if when == "as left" else " after fsck")] += 1
                continue
            current, torn, blessed = verdict
            if when == "as left":
                left_as[number], last = current, verdict
            row["blessed"] += len(blessed)
            failures += ["%s, state %d (%s) %s: %s called up to date while torn"
                         % (serial, number, label, when, n.decode("cp932"))
                         for n in sorted(blessed)]
    # The whole log, as left: every file it can judge is there and right.
    if last is None or last[0] != {e.name for e in judgeable} or last[1] & last[0]:
        failures.append("%s: the disk at the end of the log does not hold the release" % serial)
    return row, failures, states, image, ops, left_as


def check_judge(args, serial, entries, states, image, ops, left_as, work):
    """Boots K states of a Linux recording and has the Linux build update each: the files its
    trace calls Existing must be those the judge called up to date."""
    _, options, side = SERIALS[serial]
    if side != "linux" or not args.check:
        return []
    rng = random.Random(args.seed)
    chosen = rng.sample(sorted(left_as), min(args.check, len(left_as)))
    folder = os.path.join(work, "check-" + serial)
    os.makedirs(folder)
    with open(os.path.join(folder, "params"), "w") as f:
        f.write("step=check\nrunner=crash_states.py\noptions=%s\n" % options)
    command = ["bash", os.path.join(SOURCE, "scripts", "vm32.sh"), "boot", "--linux", args.linux,
               "--out", folder]
    for k, number in enumerate(chosen):
        state = os.path.join(folder, "check-%d.img" % k)
        image.write(ops, states[number][1], state)
        command += ["--disk", "check-%d=%s" % (k, state)]
    subprocess.run(command, check=True)
    failures = []
    prefix = b"Existing [E:\\Zarpo\\"
    for k, number in enumerate(chosen):
        with open(os.path.join(folder, "check-%d.trace" % k), "rb") as f:
            existing = {line[len(prefix):-1] for line in f.read().split(b"\n")
                        if line.startswith(prefix)}
        judged = left_as[number]
        print("%s: state %d (%s) booted: %d files Existing, %d judged up to date"
              % (serial, number, states[number][0], len(existing), len(judged)))
        if existing != judged:
            failures.append("%s, state %d: the updater's Existing %s, the judge's %s"
                            % (serial, number, sorted(existing - judged),
                               sorted(judged - existing)))
    return failures


def guest_check(out):
    """In the guest: every check disk mounted as recorded and updated once by the Linux build."""
    with open(os.path.join(out, "params")) as f:
        params = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    k = 0
    while os.path.exists(os.path.join(out, "check-%d.img" % k)):
        point = mount("check-%d" % k, params["options"])
        with LinuxDrive(point, trace_path=os.path.join(out, "check-%d.trace" % k)) as linux:
            linux.update()
        subprocess.run(["umount", point], check=True)
        k += 1
    return 0


def record(args):
    """One boot of the emulated machine for the recordings alone."""
    scenarios = [SERIALS[serial][0] for serial in args.which]
    command = ["bash", os.path.join(SOURCE, "scripts", "vm32.sh"), "run", "--build", args.build,
               "--linux", args.linux, "--out", args.out]
    for scenario in scenarios:
        command += ["--scenario", scenario]
    subprocess.run(command, check=True)
    code = 0
    for scenario in scenarios:
        with open(os.path.join(args.out, scenario + ".rc")) as f:
            if f.read().strip() != "0":
                print("FAIL: the recording %s failed (see %s.log)" % (scenario, scenario))
                code = 1
    return code


def write_log(path, ops, sector=512):
    """A log in the format read_log reads: `ops` as it returns them."""
    with open(path, "wb") as f:
        f.write(struct.pack("<QQQI", LOG_MAGIC, LOG_VERSION, len(ops), sector).ljust(sector, b"\0"))
        for op in ops:
            offset, data = op if op is not None else (0, b"")
            f.write(struct.pack("<QQQQ", offset // sector, len(data) // sector,
                                LOG_FLUSH if op is None else 0, 0).ljust(sector, b"\0") + data)


def self_check(args, entries):
    """The explorer against logs made here, without the emulated machine: mtools writes the
    release onto a copy of an empty disk, and the sectors that changed become the log, once with
    the data flushed before the entries that lead to it (no state may bless a torn file) and
    once with the entries flushed before the data (the state between the two flushes must: the
    fault the explorer is there to find)."""
    # mtools stamps the folders it makes with the time it runs, or with -m those it copies with
    # their last-write time: the same time on every run.
    stamp = 1262304000
    env = dict(MTOOLS_ENV, SOURCE_DATE_EPOCH=str(stamp))

    def disk(path, data):
        """The release over a copy of the empty disk, with zeros for data unless `data`."""
        shutil.copy(paths[0], path)
        with tempfile.TemporaryDirectory() as tree:
            for e in entries:
                name = e.name.decode("cp932").replace("\\", "/")
                local = os.path.join(tree, "Zarpo", name)
                os.makedirs(os.path.dirname(local), exist_ok=True)
                with open(local, "wb") as f:
                    f.write(e.data if data else bytes(len(e.data)))
                seconds = (e.last_write - EPOCH_AS_FILETIME) // 10**7
                os.utime(local, (seconds, seconds))
            for folder, _, _ in os.walk(tree):
                os.utime(folder, (stamp, stamp))
            subprocess.run(["mcopy", "-i", path, "-s", "-m", "-o", os.path.join(tree, "Zarpo"),
                            "::/"], check=True, env=env)
        for e in entries:
            flags = [flag for bit, flag in ((1, "+r"), (2, "+h"), (4, "+s")) if e.attributes & bit]
            if flags:
                target = "::/Zarpo/" + e.name.decode("cp932").replace("\\", "/")
                subprocess.run(["mattrib", "-i", path] + flags + [target], check=True, env=env)

    def sectors(path):
        with open(path, "rb") as f:
            image = f.read()
        return [image[i:i + 512] for i in range(0, len(image), 512)]

    failures = []
    with tempfile.TemporaryDirectory(prefix="crash-states-check-") as work:
        args.results = work
        paths = [os.path.join(work, name) for name in ("base.img", "zeros.img", "final.img")]
        fresh_image(paths[0])
        subprocess.run(["mmd", "-i", paths[0], "::/Zarpo"], check=True, env=env)
        disk(paths[1], False)
        disk(paths[2], True)
        base, zeros, final = (sectors(path) for path in paths)
        sector, _, reserved, fats = struct.unpack_from("<HBHB", base[0], 11)
        start = (reserved + fats * struct.unpack_from("<I", base[0], 36)[0]) * sector // 512
        # The same names, sizes and times with zeros for data: mtools places them alike, so a
        # sector of the data region that holds only zeros there is a file's data, and any other
        # that changed is metadata (the FAT and its information sector before the data region,
        # the folders in it), whatever times the two copies hold.
        data, fat, folders = [], [], []
        for i, (old, zero, new) in enumerate(zip(base, zeros, final)):
            if new != old:
                kind = fat if i < start else data if not any(zero) else folders
                kind.append((i * 512, new))
        shutil.copy(paths[0], os.path.join(work, "rec-linux-flush.base.img"))
        for title, ops, blessed in (("data and FAT flushed before the folders",
                                     data + fat + [None] + folders + [None], 0),
                                    ("folders and FAT flushed before the data",
                                     folders + fat + [None] + data + [None], 1)):
            write_log(os.path.join(work, "rec-linux-flush.log"), ops)
            row, found, *_ = explore(args, "rec-linux-flush", entries, work)
            print("%s: %d states, %d files called up to date while torn"
                  % (title, row["states"], row["blessed"]))
            if bool(row["blessed"]) != bool(blessed) or (found and not blessed):
                failures.append("%s: %d files called up to date while torn, expected %s"
                                % (title, row["blessed"], "some" if blessed else "none"))
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


def cost(args):
    """One boot for guest.py's keydisk-cost: the builds staged with their before/ programs."""
    stage = os.path.join(args.out, "stage")
    shutil.rmtree(stage, ignore_errors=True)
    parts = {"win32": (args.build, args.before_build, "ZarpoUpdate.exe"),
             "linux": (args.linux, args.before_linux, "ZarpoUpdate")}
    for side, (build, before, program) in parts.items():
        names = ["package.bin"] + (
            ["monitor/debug-monitor", "tests/keydisk/install-package-file",
             "tests/platform-conformance", program] if side == "linux" else
            [os.path.relpath(os.path.join(root, n), build) for root, _, files in os.walk(build)
             for n in files if n.endswith(".exe") and "before" not in root])
        for name in names:
            os.makedirs(os.path.dirname(os.path.join(stage, side, name)), exist_ok=True)
            shutil.copy(os.path.join(build, name), os.path.join(stage, side, name))
        if before:
            os.makedirs(os.path.join(stage, side, "before"))
            shutil.copy(os.path.join(before, program), os.path.join(stage, side, "before"))
    results = os.path.join(args.out, "run")
    subprocess.run(["bash", os.path.join(SOURCE, "scripts", "vm32.sh"), "run", "--build",
                    os.path.join(stage, "win32"), "--linux", os.path.join(stage, "linux"),
                    "--out", results, "--scenario", "keydisk-cost"], check=True)
    with open(os.path.join(results, "keydisk-cost.log")) as f:
        print(f.read())
    with open(os.path.join(results, "keydisk-cost.rc")) as f:
        return int(f.read().strip() or 1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", nargs="?",
                        choices=["explore", "record", "self-check", "cost"])
    parser.add_argument("--before-build")
    parser.add_argument("--before-linux")
    parser.add_argument("--guest")
    parser.add_argument("--results")
    parser.add_argument("--out")
    parser.add_argument("--build")
    parser.add_argument("--linux", default=os.path.join(SOURCE, "build", "host"))
    parser.add_argument("--package")
    parser.add_argument("--which", action="append", choices=sorted(SERIALS))
    parser.add_argument("--seed", type=int, default=29)
    parser.add_argument("--bound", type=int, default=2)
    parser.add_argument("--check", type=int, default=0)
    args = parser.parse_args()
    if args.guest:
        return guest_check(args.guest)
    args.linux = os.path.abspath(args.linux)
    args.which = args.which or sorted(SERIALS)
    if args.command == "record":
        return record(args)
    if args.command == "cost":
        return cost(args)
    with open(args.package or os.path.join(args.linux, "package.bin"), "rb") as f:
        entries = zarpo_format.read_package(f.read())
    if args.command == "self-check":
        return self_check(args, entries)
    rows, failures = {}, []
    with tempfile.TemporaryDirectory(prefix="crash-states-") as work:
        for serial in args.which:
            try:
                row, found, states, image, ops, left_as = explore(args, serial, entries, work)
                rows[serial] = row
                failures += found
                failures += check_judge(args, serial, entries, states, image, ops, left_as, work)
            except (wine.Failure, OSError, subprocess.CalledProcessError) as failure:
                failures.append("%s: %s" % (serial, failure))
    print("\nseed %d, at most %d subsets an epoch, %d entries" % (args.seed, args.bound,
                                                                 len(entries)))
    print("%-18s %8s %10s %8s %12s %12s" % ("recording", "states", "judgeable", "blessed",
                                             "unreadable", "after fsck"))
    for serial, row in rows.items():
        print("%-18s %8d %10d %8d %12d %12d" % (serial, row["states"], row["judgeable"],
                                                row["blessed"], row["unreadable"],
                                                row["unreadable after fsck"]))
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
