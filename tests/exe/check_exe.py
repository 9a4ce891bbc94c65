#!/usr/bin/env python3
"""Checks of the shipped updater executable, made on the file itself.

    check_exe.py --exe ZarpoUpdate.exe --package package.bin [--machine i386|x86_64]

The program must be a GUI-subsystem PE of the given machine, import only from DLLs that every
Windows has, carry the package as ZIPFILE/UPDATE in Japanese (1041) byte for byte, and carry
an application manifest asking for asInvoker and a version resource. Prints the size.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe  # noqa: E402

MACHINES = {"i386": (0x14C, 0x10B), "x86_64": (0x8664, 0x20B)}
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
# DLLs that are part of Windows itself. msvcrt.dll ships with every Windows since 2000.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "gdi32.dll", "advapi32.dll",
               "msvcrt.dll", "ntdll.dll", "comctl32.dll", "ole32.dll", "shlwapi.dll"}


def problems(exe, package, machine):
    """Every way the executable falls short, as messages (none: it is fine)."""
    found = []
    want_machine, want_magic = MACHINES[machine]
    if exe.machine != want_machine or exe.magic != want_magic:
        found.append("machine %#x / optional header %#x, wanted %#x / %#x"
                     % (exe.machine, exe.magic, want_machine, want_magic))
    if exe.subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        found.append("subsystem %d, wanted the GUI subsystem (2)" % exe.subsystem)

    dlls = exe.imported_dlls()
    foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
    if foreign:
        found.append("imports from DLLs that are not part of Windows: " + ", ".join(foreign))
    for needed in ("kernel32.dll", "user32.dll", "shell32.dll"):
        if needed not in (d.lower() for d in dlls):
            found.append("does not import " + needed)

    resources = exe.resources()
    carried = resources.get(("ZIPFILE", "UPDATE", 1041))
    if carried is None:
        found.append("no ZIPFILE/UPDATE resource in language 1041 (has: %s)"
                     % sorted(map(str, resources)))
    elif carried != package:
        found.append("ZIPFILE/UPDATE holds %d bytes that differ from the package's %d"
                     % (len(carried), len(package)))
    manifests = [data for (rtype, _, _), data in resources.items() if rtype == pe.RT_MANIFEST]
    if not manifests:
        found.append("no RT_MANIFEST resource")
    elif not any(b'level="asInvoker"' in m for m in manifests):
        found.append("the manifest does not ask for asInvoker")
    versions = [data for (rtype, _, _), data in resources.items() if rtype == pe.RT_VERSION]
    if not versions:
        found.append("no RT_VERSION resource")
    elif not any("VS_VERSION_INFO".encode("utf-16-le") in v for v in versions):
        found.append("the RT_VERSION resource is not a VS_VERSION_INFO block")
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--package", required=True)
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    args = parser.parse_args()
    with open(args.package, "rb") as f:
        package = f.read()
    try:
        exe = pe.read(args.exe)
        found = problems(exe, package, args.machine)
    except (pe.PEError, ValueError, IndexError) as error:
        found = ["not a readable PE file: %s" % error]
    print("%s: %d bytes, package %d bytes" % (args.exe, os.path.getsize(args.exe), len(package)))
    for message in found:
        print("FAIL: " + message)
    if found:
        return 1
    print("imports: " + ", ".join(exe.imported_dlls()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
