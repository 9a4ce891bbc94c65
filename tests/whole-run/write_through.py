#!/usr/bin/env python3
"""The Linux build writes a removable drive through, as Windows writes a USB stick under its
default quick-removal policy, and leaves a fixed drive to the host's cache. Seen in the system
calls of whole runs (strace -f -y), on a fresh key disk that also holds an obsolete file:

  removable  every file opened for writing on the drive has O_DSYNC, so its data is on the
             medium before its time is set; every time set is followed by a sync of the file
             before it is closed; every file created, folder made and file deleted is followed
             by a sync of the folder holding it (a new folder also by its own) before anything
             else is created or deleted; a second run writes and syncs nothing
  fixed      no O_DSYNC and no sync at all

    write_through.py --updater build/host/ZarpoUpdate
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

CALL = re.compile(r"^\d+ (\w+)\((.*)\) += (-?\d+)(?:<([^>]*)>)?")
FD = re.compile(r"^-?\d+<([^>]*)>")


def calls(log):
    """(name, first argument's path, second argument, result, result's path) per call."""
    out = []
    for line in log.splitlines():
        m = CALL.match(line)
        if not m:
            continue
        name, args, result, result_path = m.group(1), m.group(2), int(m.group(3)), m.group(4)
        fd = FD.match(args)
        second = args.split(", ")[1] if ", " in args else ""
        out.append((name, fd.group(1) if fd else None, second, args, result, result_path))
    return out


def run(updater, table, disk, answers):
    log = os.path.join(table, "..", "strace.log")
    env = dict(os.environ, ZARPO_DOSDEVICES=table, XDG_RUNTIME_DIR=os.path.dirname(table),
               ASAN_OPTIONS="detect_leaks=0")  # LeakSanitizer does not run under ptrace
    subprocess.run(["strace", "-f", "-y", "-qq", "-o", log,
                    "-e", "trace=openat,write,utimensat,fsync,fdatasync,close,mkdirat,unlinkat",
                    updater], input=answers, env=env, stdout=subprocess.DEVNULL, check=True,
                   timeout=300)
    with open(log) as f:
        return [c for c in calls(f.read()) if on_disk(c, disk)]


def on_disk(call, disk):
    return any(p and (p == disk or p.startswith(disk + "/")) for p in (call[1], call[5]))


def quoted(text):
    return text.strip().strip('"')


def check_removable(events, disk, failures):
    """The rules of the module's text, in the order the calls were made."""
    writable = [e for e in events if e[0] == "openat" and re.search(r"O_WRONLY|O_RDWR", e[3])]
    if not writable:
        failures.append("no file was opened for writing")
    for e in writable:
        if "O_DSYNC" not in e[3]:
            failures.append("opened for writing without O_DSYNC: %s" % e[5])
    pending = []  # (what must be synced, why), before the next creation or deletion
    times = 0
    for i, (name, path, second, args, result, result_path) in enumerate(events):
        creates = (name == "openat" and "O_CREAT" in args and result >= 0) or \
                  (name in ("mkdirat", "unlinkat") and result == 0)
        if creates and pending:
            failures.append("not synced before the next change: " + ", ".join(w for _, w in pending))
            pending = []
        if name == "openat" and "O_CREAT" in args and result >= 0:
            pending.append((os.path.dirname(result_path), "folder of new " + result_path))
        elif name == "mkdirat" and result == 0:
            made = os.path.join(path, quoted(second))
            pending += [(made, "new folder " + made), (path, "folder of new " + made)]
        elif name == "unlinkat" and result == 0:
            pending.append((path, "folder of deleted " + os.path.join(path, quoted(second))))
        elif name == "fsync" and result == 0:
            pending = [p for p in pending if p[0] != path]
        elif name == "utimensat" and path:
            times += 1
            if any(p[0] == os.path.dirname(path) for p in pending):
                failures.append("time set before the new entry's folder was synced: " + path)
            later = [e for e in events[i + 1:] if e[1] == path and e[0] in ("fsync", "close")]
            if not later or later[0][0] != "fsync":
                failures.append("time set but not synced before close: " + path)
    if pending:
        failures.append("not synced by the end: " + ", ".join(w for _, w in pending))
    return times


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--updater", required=True)
    args = parser.parse_args()
    if not shutil.which("strace"):
        sys.exit("strace is missing (scripts/setup.sh installs it)")
    failures = []
    with tempfile.TemporaryDirectory() as work:
        for kind in ("removable", "fixed"):
            disk = os.path.realpath(os.path.join(work, kind, "disk"))
            table = os.path.join(work, kind, "dosdevices")
            os.makedirs(os.path.join(disk, "Zarpo"))
            os.makedirs(table)
            os.symlink(disk, os.path.join(table, "e:"))
            with open(os.path.join(table, "drive-types"), "w") as f:
                f.write("e: %s\n" % kind)
            with open(os.path.join(disk, "Zarpo", "ZpFont32.dll"), "w") as f:
                f.write("obsolete")
            events = run(args.updater, table, disk, b"y\nn\n")
            syncs = [e for e in events if e[0] in ("fsync", "fdatasync")]
            if kind == "fixed":
                if syncs or any("O_DSYNC" in e[3] for e in events):
                    failures.append("a fixed drive was synced or opened with O_DSYNC")
                continue
            times = check_removable(events, disk, failures)
            print("removable drive: %d files timed, %d syncs" % (times, len(syncs)))
            again = run(args.updater, table, disk, b"y\nn\n")
            changes = [e for e in again if e[0] in ("fsync", "fdatasync", "write", "utimensat",
                                                    "mkdirat", "unlinkat")]
            if changes:
                failures.append("the second run changed the drive: %r" % changes[:3])
    for failure in failures:
        print("FAIL: " + failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
