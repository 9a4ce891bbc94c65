#!/usr/bin/env python3
"""The Windows-side cost of a package: a fresh install and a rerun by the 64-bit twin under
wine64, timed in rounds, for docs/performance.md next to the Linux figures. scripts/bench.sh
runs it on the 10,000-entry package; it is a measurement, not a test.

    wine.py --build build/win64 --package P --template DIR --rounds N --json OUT
            [--drive DIR] [--wine W]

Runs as the Wine tests run the program (zarpolib/wine.py): a prefix of its own copied from
the template (made when missing), its own Xvfb display, LC_ALL=ja_JP.UTF-8 (code page 932),
E: a folder that Wine calls removable ("floppy": --drive, by default one of the sandbox;
the template is made when missing and left for the next run), and the boxes answered by the
dialog driver (yes to the update, no to the setup). The program carrying the package is made by
swap-package, as the scenarios make it. No monitor listens: trace lines go nowhere.

Per round, after one warm-up round that is not counted: the product folder emptied (untimed),
the fresh install, then the rerun on what it left. A run is timed from starting the program
under the prefix's running server to its exit; the dialog driver's reaction to each box (it
polls for it) is in the figure, as a user's would be. `start` is the same for stat.exe asked
for the drive type of E:, which is what any program pays to start under Wine here. Each run is
checked, untimed: the fresh install leaves the package's files with their sizes, the rerun
leaves size and mtime of every file as they were.
"""
import argparse
import json
import os
import shutil
import statistics
import sys
import time

import zarpo_format
from zarpolib import wine

TIMEOUT = 600


def tree(folder):
    """{relative path: (size, mtime_ns)} of every file below `folder`."""
    found = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            st = os.lstat(os.path.join(parent, name))
            found[os.path.relpath(os.path.join(parent, name), folder)] = (st.st_size,
                                                                           st.st_mtime_ns)
    return found


def summary(walls):
    return {"median": statistics.median(walls), "min": min(walls), "max": max(walls),
            "walls": walls}


def timed_update(sandbox, tool, updater):
    """Seconds from the program's start to its exit, its boxes answered."""
    driver = sandbox.start_driver(tool("dialog-driver"), 2, ["yes", "no"], timeout=TIMEOUT)
    start = time.perf_counter()
    process = sandbox.start("ZarpoUpdate", updater)
    code, _, _ = process.wait(TIMEOUT)
    seconds = time.perf_counter() - start
    driver_code, _, err = driver.wait(30)
    if code != 0 or driver_code != 0:
        raise wine.Failure("the updater exited %d, the dialog driver %d: %s"
                              % (code, driver_code, err.decode(errors="replace").strip()))
    return seconds


def measure(args):
    with open(args.package, "rb") as f:
        package = f.read()
    entries = zarpo_format.read_package(package)
    sizes = {os.path.join(*e.name.decode("cp932").split("\\")): len(e.data) for e in entries}
    tool = lambda name: wine.program(args.build, name)  # noqa: E731
    if not os.path.isfile(os.path.join(args.template, "system.reg")):
        wine.make_template(args.template)
    samples = {"fresh": [], "rerun": [], "start": []}
    with wine.Sandbox(args.template, "bench") as sandbox:
        if args.drive:
            shutil.rmtree(args.drive, ignore_errors=True)
        drive = sandbox.map_drive("e", "floppy", args.drive)
        zarpo = os.path.join(drive, "Zarpo")
        carried = os.path.join(sandbox.root, "package.bin")
        shutil.copyfile(args.package, carried)
        updater = os.path.join(sandbox.root, "ZarpoUpdate-bench.exe")
        code, _ = sandbox.run("swap-package", tool("swap-package"),
                              wine.windows_path(os.path.join(args.build, "ZarpoUpdate.exe")),
                              wine.windows_path(updater), wine.windows_path(carried),
                              timeout=120)
        if code != 0:
            raise wine.Failure("swap-package exited %d" % code)
        for i in range(args.rounds + 1):
            start = time.perf_counter()
            code, _ = sandbox.run("stat", tool("stat"), "--drive-type", "E:\\")
            started = time.perf_counter() - start
            if code != 0:
                raise wine.Failure("stat.exe exited %d" % code)
            shutil.rmtree(zarpo, ignore_errors=True)
            os.makedirs(zarpo)
            fresh = timed_update(sandbox, tool, updater)
            installed = tree(zarpo)
            if {k: v[0] for k, v in installed.items()} != sizes:
                raise wine.Failure("the fresh install left other files than the package's")
            rerun = timed_update(sandbox, tool, updater)
            if tree(zarpo) != installed:
                raise wine.Failure("the rerun changed the product folder")
            if i == 0:
                continue  # the warm-up round
            for key, seconds in (("fresh", fresh), ("rerun", rerun), ("start", started)):
                samples[key].append(seconds)
            print("wine: round %d of %d: fresh %.0f ms, rerun %.0f ms" % (
                i, args.rounds, fresh * 1000, rerun * 1000), flush=True)
    return {"entries": len(entries), "rounds": args.rounds,
            "unpacked": sum(sizes.values()),
            "variants": {key: summary(walls) for key, walls in samples.items()}}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True, help="the win64 build folder")
    parser.add_argument("--package", required=True)
    parser.add_argument("--template", required=True, help="the Wine prefix template")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--json", required=True)
    parser.add_argument("--drive", help="the folder to be drive E: (emptied first)")
    parser.add_argument("--wine", help="the wine64 loader (default: zarpolib.wine's)")
    args = parser.parse_args(argv)
    # Wine takes only an absolute prefix.
    args.build, args.template = os.path.abspath(args.build), os.path.abspath(args.template)
    if args.wine:
        wine.WINE = args.wine
        wine.WINESERVER = os.path.join(os.path.dirname(args.wine), "wineserver")
    result = measure(args)
    result["package"] = os.path.basename(os.path.dirname(os.path.abspath(args.package)))
    with open(args.json, "w") as f:
        json.dump(result, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
