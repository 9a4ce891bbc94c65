#!/usr/bin/env python3
"""The key disks read back on the host, after the emulated machine has powered off, by programs
none of whose code is ours or the guest kernel's: dosdevices' fsck.fat and exfatprogs'
fsck.exfat must find each image clean; mtools reads every product folder the guest scenarios
(tests/keydisk/guest.py) left on the FAT32 image and described as NAME.expect and NAME.pkg.

    readback.py --results DIR --image fat32|exfat

For each expected file: its long name is the UTF-16 name that code page 932 gives the entry's
name bytes (taken from CPython's own cp932 codec, which shares nothing with the C library's
iconv that the POSIX layer's tables come from; mtools only turns UTF-16 into the locale's
UTF-8); its attribute byte (R, H, S, A) is the entry's, less the bits the scenario says could not
be kept there (noted, not failed); its last-write time, carried onto a copy by mcopy -m under
TZ=UTC, is the entry's truncated to the even second below (the guest kernel stores UTC as the
local time and truncates: what Windows set to UTC reads); its bytes are the entry's. Nothing
else is in the folder.
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile

import zarpo_format
from zarpo_format import EPOCH_AS_FILETIME
from zarpolib.images import MTOOLS_ENV

BITS = {"R": 0x01, "H": 0x02, "S": 0x04, "A": 0x20}


def letters(bits):
    return "".join(c for c, b in BITS.items() if bits & b) or "-"


def run(args):
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=MTOOLS_ENV)
    return done.returncode, done.stdout.decode("utf-8", errors="replace")


# What fsck.fat says, beyond the lines naming a path, about a short name it takes for bad, and
# the lines that follow from it (the fix it would make, and a folder with many such names).
SHORT_NAME = re.compile(r"^  Bad short file name \((.*)\)\.$")
FOLLOWING = re.compile(r"^  (Auto-renaming it\.|Renamed to FSCK\d{4}\.\d{3}|"
                       r"Has a large number of bad entries\. \(\d+/\d+\)|"
                       r"Not dropping it in auto-mode\.)$")
FSCK_BAD_BYTES = b'*?<>|"\\/:'


def is_double_byte_name(shown):
    """Whether a short name fsck.fat shows (in code page 850) is a well-formed code page 932 name
    whose only bytes fsck.fat refuses are trail bytes of double-byte characters: 0x5C, the
    backslash, is the second byte of 表 (95 5C) and 構 (8D 5C), which the kernel's codepage=932
    puts into the short names as Windows does. fsck.fat 4.2 checks each byte alone."""
    raw = shown.encode("cp850")
    i, trail_seen = 0, False
    while i < len(raw):
        if 0x81 <= raw[i] <= 0x9F or 0xE0 <= raw[i] <= 0xFC:
            if i + 1 >= len(raw) or not (0x40 <= raw[i + 1] <= 0xFC and raw[i + 1] != 0x7F):
                return False
            trail_seen |= raw[i + 1] in FSCK_BAD_BYTES
            i += 2
        elif raw[i] in FSCK_BAD_BYTES:
            return False
        else:
            i += 1
    try:
        raw.decode("cp932")
    except UnicodeDecodeError:
        return False
    return trail_seen


def check_fsck(failures, notes, image, program):
    """The checker must find nothing wrong, bar fsck.fat's reading of double-byte short names,
    which is noted with each such name as code page 932 gives it."""
    code, out = run([program, "-n"] + (["-c", "850"] if program == "fsck.fat" else []) + [image])
    print("%s -n: exit %d\n%s" % (program, code, out.rstrip()))
    double_byte, unexplained = [], []
    for line in out.splitlines():
        if not line.startswith("  ") or FOLLOWING.match(line):
            continue
        name = SHORT_NAME.match(line)
        if name and is_double_byte_name(name.group(1)):
            double_byte.append(name.group(1))
        else:
            unexplained.append(line)
    if double_byte:
        notes.append("%s takes %d short names for bad only for a 0x5C trail byte (it reads "
                     "bytes, not code page 932): %s" % (program, len(double_byte), ", ".join(
                         sorted({n.encode("cp850").decode("cp932") for n in double_byte}))))
    clean = code == 0 or (code == 1 and double_byte and not unexplained)
    if not clean or unexplained or "dirty" in out.lower():
        failures.append("%s does not find %s clean (exit %d): %s"
                        % (program, image, code, unexplained or out.strip()[-400:]))


def mtools_files(failures, image, folder):
    """{path below folder: attribute letters} as mattrib lists them, files only."""
    code, out = run(["mattrib", "-i", image, "-/", "::/" + folder])
    if code != 0:
        failures.append("mattrib failed on ::/%s: %s" % (folder, out.strip()))
        return {}
    code, listing = run(["mdir", "-i", image, "-a", "-/", "-b", "::/" + folder])
    if code != 0:
        failures.append("mdir failed on ::/%s: %s" % (folder, listing.strip()))
        return {}
    files = {line[len("::/" + folder) + 1:] for line in listing.splitlines()
             if line.startswith("::/") and not line.endswith("/")}
    attributes = {}
    for line in out.splitlines():
        flags, _, path = line.partition("::/")
        path = path[len(folder) + 1:]
        if path in files:
            attributes[path] = "".join(c for c in "RHSA" if c in flags) or "-"
    return attributes


def check_folder(failures, notes, image, folder, entries, lost):
    found = mtools_files(failures, image, folder)
    # The names as code page 932 gives them: CPython's codec, backslashes as levels.
    wanted = {e.name.decode("cp932").replace("\\", "/"): e for e in entries}
    if sorted(found) != sorted(wanted):
        failures.append("%s: names on the disk differ from the entries'\n    only on the disk: %r"
                        "\n    only in the entries: %r" % (folder, sorted(set(found) - set(wanted)),
                                                          sorted(set(wanted) - set(found))))
    with tempfile.TemporaryDirectory() as copy:
        code, out = run(["mcopy", "-i", image, "-s", "-m", "-n", "::/" + folder, copy])
        if code != 0:
            failures.append("mcopy failed on ::/%s: %s" % (folder, out.strip()))
        base = os.path.join(copy, os.path.basename(folder))
        missing_bits = {}
        for name, entry in sorted(wanted.items()):
            if name not in found:
                continue
            want = entry.attributes & sum(BITS.values())
            got = sum(BITS[c] for c in found[name] if c in BITS)
            if got & ~lost != want & ~lost:
                failures.append("%s/%s: attributes %s, the entry's %s"
                                % (folder, name, found[name], letters(want)))
            elif got != want:
                missing_bits[letters(want & ~got)] = missing_bits.get(letters(want & ~got), 0) + 1
            path = os.path.join(base, name)
            try:
                with open(path, "rb") as f:
                    data = f.read()
                mtime = os.stat(path).st_mtime_ns
            except OSError as error:
                failures.append("%s/%s: mcopy gave no copy: %s" % (folder, name, error))
                continue
            if data != entry.data:
                failures.append("%s/%s: contents differ from the entry's" % (folder, name))
            seconds = (entry.last_write - EPOCH_AS_FILETIME) // 10**7
            if mtime != (seconds - seconds % 2) * 10**9:
                failures.append("%s/%s: last-write time %d ns, the entry's %d s held as %d s"
                                % (folder, name, mtime, seconds, seconds - seconds % 2))
        for bits, count in sorted(missing_bits.items()):
            notes.append("%s: %d files without %s, which their writer cannot keep there"
                         % (folder, count, bits))
    print("%s: %d files read back" % (folder, len(found)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--image", choices=["fat32", "exfat"], required=True)
    args = parser.parse_args()
    image = os.path.join(args.results, args.image + ".img")
    failures, notes = [], []
    if not os.path.isfile(image) or not os.path.isfile(os.path.join(args.results, "finished")):
        print("FAIL: no %s written back by a finished guest run in %s" % (image, args.results))
        return 1
    check_fsck(failures, notes, image, "fsck.fat" if args.image == "fat32" else "fsck.exfat")
    if args.image == "fat32":
        expects = sorted(glob.glob(os.path.join(args.results, "*.expect")))
        if not expects:
            failures.append("no guest scenario described a folder to read back")
        for expect in expects:
            with open(expect, encoding="ascii") as f:
                fs, folder, lost = f.read().split()
            if fs != args.image:
                continue
            with open(expect[:-len(".expect")] + ".pkg", "rb") as f:
                entries = zarpo_format.read_package(f.read())
            check_folder(failures, notes, image, folder, entries,
                         sum(BITS[c] for c in lost if c in BITS))
    for line in notes:
        print("NOTE: " + line)
    for line in failures:
        print("FAIL: " + line)
    print("read-back of %s: %s" % (args.image, "failed" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
