#!/usr/bin/env python3
"""The Linux programs hardened as Debian builds its packages, checked on the ELF files.

    check_elf.py FILE...                            check built programs
    check_elf.py --source DIR --work DIR            build zarpo-pack, debug-monitor and the
                                                    updater without sanitizers (Release), then
                                                    check them

Each check names the BinSkim rule it stands for. Reads the files with readelf (binutils).
Prints one line per rule and file; exit 1 on any failure.
"""
import argparse
import os
import re
import subprocess
import sys


def readelf(path, *options):
    return subprocess.run(["readelf", "-W", *options, path], check=True, capture_output=True,
                          text=True).stdout


def symbols(path):
    """The names of the dynamic symbols (those the program takes from the C library)."""
    return {line.split()[7].split("@")[0] for line in readelf(path, "--dyn-syms").splitlines()
            if len(line.split()) >= 8 and line.split()[0].endswith(":")}


def checks(path):
    """[(rule, problem or None)]."""
    header, segments, dynamic = readelf(path, "-h"), readelf(path, "-l"), readelf(path, "-d")
    names = symbols(path)
    flags = " ".join(re.findall(r"\((?:FLAGS|FLAGS_1|BIND_NOW)\)\s+(.*)", dynamic))
    stack = re.search(r"GNU_STACK(?:\s+\S+){5}\s+(\S+)", segments)
    return [
        ("BA3001.EnablePositionIndependentExecutable",
         None if re.search(r"Type:\s+DYN", header) and "INTERP" in segments
         else "not a position-independent executable"),
        ("BA3010.EnableReadOnlyRelocations",
         None if "GNU_RELRO" in segments else "no GNU_RELRO segment"),
        ("BA3011.EnableBindNow",
         None if "(BIND_NOW)" in dynamic or re.search(r"\bBIND_NOW\b|\bNOW\b", flags)
         else "not bound at start (no BIND_NOW, no FLAGS_1 NOW)"),
        ("BA3003.EnableStackProtector",
         None if "__stack_chk_fail" in names else "no __stack_chk_fail: no stack protector"),
        ("BA3030.UseGccCheckedFunctions",
         None if any(re.fullmatch(r"__\w+_chk", n) for n in names - {"__stack_chk_fail"})
         else "no fortified (__*_chk) call"),
        ("BA3006.EnableNonExecutableStack",
         None if stack and "E" not in stack.group(1) else "the stack is executable"),
    ]


def build(source, work):
    """The hardened programs, built as the tools and bench presets build them."""
    subprocess.run(["cmake", "-S", source, "-B", work, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DZARPO_SANITIZE=OFF", "-DZARPO_TESTS=OFF"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", work, "-j1", "--target", "zarpo-pack", "debug-monitor",
                    "ZarpoUpdate"], check=True, stdout=subprocess.DEVNULL)
    return [os.path.join(work, "release", "zarpo-pack"),
            os.path.join(work, "monitor", "debug-monitor"), os.path.join(work, "ZarpoUpdate")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source")
    parser.add_argument("--work")
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    files = args.files + (build(args.source, args.work) if args.source else [])
    failed = False
    for path in files:
        for rule, problem in checks(path):
            failed |= problem is not None
            print("%s %s %s%s" % ("FAIL" if problem else "pass", rule, path,
                                  ": " + problem if problem else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
