#!/usr/bin/env python3
"""The Linux build flushes every file it writes before it sets the file's time, on any drive, and
writes a removable drive through, as Windows writes a USB stick under quick removal. Read from
the system calls of whole runs on a fresh key disk holding one obsolete file (strace -f -y,
every descriptor with its path): on both drives the data of every file is synced after its
last write and before its time is set; on the removable drive every time set is synced before
the file is closed, and the folder of every file created, folder made or file deleted is
synced, and then its file system, before the next such change; a second run writes nothing.
A fixed drive is no key disk: nothing is written there, nor synced.

    write_through.py --updater build/host/ZarpoUpdate
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

CALL = re.compile(r'^\d+ +(\w+)\((?:-?\d+<([^>]*)>)?(?:, "([^"]*)")?'
                  r'(.*)\) += (-?\d+)(?:<([^>]*)>)?')
TRACED = "openat,write,utimensat,fsync,fdatasync,syncfs,close,mkdirat,unlinkat"


def run(updater, table, disk):
    log = os.path.join(os.path.dirname(table), "strace.log")
    env = dict(os.environ, ZARPO_DOSDEVICES=table, XDG_RUNTIME_DIR=os.path.dirname(table),
               ASAN_OPTIONS="detect_leaks=0")  # LeakSanitizer does not run under ptrace
    subprocess.run(["strace", "-f", "-y", "-qq", "-o", log, "-e", "trace=" + TRACED, updater],
                   input=b"y\nn\n", env=env, stdout=subprocess.DEVNULL, check=True, timeout=300)
    events = []
    with open(log) as f:
        for m in filter(None, map(CALL.match, f)):
            name, path, name_arg, rest, result, result_path = m.groups()
            if (path or result_path or "").startswith(disk):
                events.append((name, path, name_arg, rest, int(result), result_path))
    return events


def flush_faults(events):
    """Every time set on a file whose data was written and not synced since."""
    faults, unsynced = [], set()
    for name, path, _, _, result, _ in events:
        if result < 0:
            continue
        if name == "write":
            unsynced.add(path)
        elif name in ("fsync", "fdatasync"):
            unsynced.discard(path)
        elif name == "utimensat" and path in unsynced:
            faults.append("time of %s set before its data was flushed" % path)
    return faults


def removable_faults(events):
    faults, pending = [], []  # pending: folders to sync before the next change
    for i, (name, path, name_arg, rest, result, result_path) in enumerate(events):
        if result < 0:
            continue
        if name in ("openat", "mkdirat", "unlinkat") and ("O_CREAT" in rest or name != "openat"):
            faults += ["%s not synced before the next change" % p for p in pending]
            pending = [os.path.dirname(result_path)] if name == "openat" else [path]
            if name == "mkdirat":
                pending.append(os.path.join(path, name_arg))
        if name == "fsync":
            # vfat leaves some of a folder's entries out of its fsync: the file system follows.
            if path in pending and events[i + 1:i + 2] and events[i + 1][:2] != ("syncfs", path):
                faults.append("%s synced without its file system" % path)
            pending = [p for p in pending if p != path]
        elif name == "utimensat":
            if os.path.dirname(path) in pending:
                faults.append("time of %s set before its folder was synced" % path)
            after = [e[0] for e in events[i + 1:] if e[1] == path and e[0] in ("fsync", "close")]
            if after[:1] != ["fsync"]:
                faults.append("time of %s not synced before it was closed" % path)
    return faults + ["%s not synced by the end" % p for p in pending]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--updater", required=True)
    updater = parser.parse_args().updater
    faults = []
    with tempfile.TemporaryDirectory() as work:
        for kind in ("removable", "fixed"):
            disk, table = (os.path.join(os.path.realpath(work), kind, f) for f in ("disk", "table"))
            os.makedirs(os.path.join(disk, "Zarpo"))
            os.makedirs(table)
            os.symlink(disk, os.path.join(table, "e:"))
            with open(os.path.join(table, "drive-types"), "w") as f:
                f.write("e: %s\n" % kind)
            with open(os.path.join(disk, "Zarpo", "ZpFont32.dll"), "w") as f:
                f.write("obsolete")
            events = run(updater, table, disk)
            synced = [e for e in events if e[0] in ("fsync", "fdatasync", "syncfs")]
            timed = sum(e[0] == "utimensat" for e in events)
            print("%s drive: %d files timed, %d syncs" % (kind, timed, len(synced)))
            if kind == "fixed":
                # No key disk there, so nothing is written, and nothing is synced either.
                faults += ["a fixed drive was synced: %r" % (e,) for e in synced[:3]]
                continue
            faults += flush_faults(events) + removable_faults(events) if timed else \
                ["nothing was written"]
            again = [e for e in run(updater, table, disk)
                     if e[0] in ("fsync", "write", "utimensat", "mkdirat", "unlinkat")]
            faults += ["the second run changed the drive: %r" % (e,) for e in again[:3]]
    for fault in faults:
        print("FAIL: " + fault)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
