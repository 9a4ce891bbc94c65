#!/usr/bin/env python3
"""Checks of the shipped updater executable, made on the file itself.

    check_exe.py --exe ZarpoUpdate.exe --package package.bin --version x.y.z
                 [--machine i386|x86_64]
    check_exe.py --exe ZarpoUpdate-stub.exe --stub --version x.y.z [--machine ...]

The program must be a GUI-subsystem PE of the given machine, import only from DLLs that every
Windows has, carry the package as ZIPFILE/UPDATE in Japanese (1041) byte for byte, and carry
an application manifest asking for asInvoker and a version resource naming the release and the
package's SHA-256. It must carry no link time stamp, so that the same sources and package always
give the same bytes. A signed program passes the same checks. Prints the size.

The stub (--stub) is the same program before a package is stamped in: it must carry no ZIPFILE
resource in any language and no PackageSHA256 in its version, and pass every other check.

Reads the PE with pefile (Debian's python3-pefile); its resources through zarpolib (tests/lib,
on PYTHONPATH).
"""
import argparse
import hashlib
import os
import sys

import pefile

from zarpolib.pe import resources

MACHINES = {"i386": (0x14C, 0x10B), "x86_64": (0x8664, 0x20B)}
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
RT_VERSION, RT_MANIFEST = 16, 24
# DLLs that are part of Windows itself. msvcrt.dll ships with every Windows since 2000.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "gdi32.dll", "advapi32.dll",
               "msvcrt.dll", "ntdll.dll", "comctl32.dll", "ole32.dll", "shlwapi.dll"}


def version_strings(exe):
    strings = {}
    for info in getattr(exe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                for key, value in table.entries.items():
                    strings[key.decode()] = value.decode()
    return strings


def problems(exe, package, machine, version):
    """Every way the executable falls short, as messages (none: it is fine)."""
    found = []
    want_machine, want_magic = MACHINES[machine]
    if exe.FILE_HEADER.Machine != want_machine or exe.OPTIONAL_HEADER.Magic != want_magic:
        found.append("machine %#x / optional header %#x, wanted %#x / %#x"
                     % (exe.FILE_HEADER.Machine, exe.OPTIONAL_HEADER.Magic, want_machine,
                        want_magic))
    if exe.OPTIONAL_HEADER.Subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        found.append("subsystem %d, wanted the GUI subsystem (2)" % exe.OPTIONAL_HEADER.Subsystem)
    stamp = int(os.environ.get("SOURCE_DATE_EPOCH", "0"))
    if exe.FILE_HEADER.TimeDateStamp not in (0, stamp):
        found.append("the link time stamp is %d: two builds of the same sources differ"
                     % exe.FILE_HEADER.TimeDateStamp)
    for debug in getattr(exe, "DIRECTORY_ENTRY_DEBUG", []):
        if debug.struct.TimeDateStamp not in (0, stamp):
            found.append("a debug directory carries the time stamp %d" % debug.struct.TimeDateStamp)

    dlls = [entry.dll.decode() for entry in getattr(exe, "DIRECTORY_ENTRY_IMPORT", [])]
    foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
    if foreign:
        found.append("imports from DLLs that are not part of Windows: " + ", ".join(foreign))
    for needed in ("kernel32.dll", "user32.dll", "shell32.dll"):
        if needed not in (d.lower() for d in dlls):
            found.append("does not import " + needed)

    carried_all = resources(exe)
    carried = carried_all.get(("ZIPFILE", "UPDATE", 1041))
    if package is None:
        zipfiles = [key for key in carried_all if key[0] == "ZIPFILE"]
        if zipfiles:
            found.append("the stub carries a package: %s" % zipfiles)
    elif carried is None:
        found.append("no ZIPFILE/UPDATE resource in language 1041 (has: %s)"
                     % sorted(map(str, carried_all)))
    elif carried != package:
        found.append("ZIPFILE/UPDATE holds %d bytes that differ from the package's %d"
                     % (len(carried), len(package)))
    manifests = [data for (rtype, _, _), data in carried_all.items() if rtype == RT_MANIFEST]
    if not manifests:
        found.append("no RT_MANIFEST resource")
    elif not any(b'level="asInvoker"' in m for m in manifests):
        found.append("the manifest does not ask for asInvoker")
    if not any(rtype == RT_VERSION for rtype, _, _ in carried_all):
        found.append("no RT_VERSION resource")
        return found
    strings = version_strings(exe)
    for key in ("FileVersion", "ProductVersion"):
        if strings.get(key) != version:
            found.append("%s is %r, wanted %r" % (key, strings.get(key), version))
    fixed = exe.VS_FIXEDFILEINFO[0] if getattr(exe, "VS_FIXEDFILEINFO", None) else None
    numbers = [int(part) for part in version.split(".")]
    if fixed is None or (fixed.FileVersionMS, fixed.FileVersionLS) != (
            numbers[0] << 16 | numbers[1], numbers[2] << 16):
        found.append("the fixed file version is not %s.0" % version)
    if package is None:
        if "PackageSHA256" in strings:
            found.append("the stub names a package: PackageSHA256 is %r"
                         % strings["PackageSHA256"])
        return found
    digest = hashlib.sha256(package).hexdigest()
    if strings.get("PackageSHA256") != digest:
        found.append("PackageSHA256 is %r, the package's SHA-256 is %s"
                     % (strings.get("PackageSHA256"), digest))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    what = parser.add_mutually_exclusive_group(required=True)
    what.add_argument("--package")
    what.add_argument("--stub", action="store_true")
    parser.add_argument("--version", required=True)
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    args = parser.parse_args()
    package = None
    if args.package:
        with open(args.package, "rb") as f:
            package = f.read()
    try:
        exe = pefile.PE(args.exe)
        found = problems(exe, package, args.machine, args.version)
    except (pefile.PEFormatError, ValueError, IndexError, AttributeError) as error:
        found = ["not a readable PE file: %s" % error]
    print("%s: %d bytes, %s" % (args.exe, os.path.getsize(args.exe),
                                 "no package" if package is None else
                                 "package %d bytes" % len(package)))
    for message in found:
        print("FAIL: " + message)
    if found:
        return 1
    print("imports: " + ", ".join(e.dll.decode() for e in exe.DIRECTORY_ENTRY_IMPORT))
    return 0


if __name__ == "__main__":
    sys.exit(main())
