#!/usr/bin/env python3
"""The guest's step of the pulled-disk trial (tests/keydisk/pulled_disk.py), run inside the
emulated machine by tests/wine/vm32-guest.sh in each boot the trial makes (vm32.sh boot). The
boot's folder holds `params` and `package.pkg`; the step is one of:

  trial  with a disk zarpo-check (the last boot's cut, repaired on the host): the Linux build
         installs the package onto it again, its trace to check.trace, its result to check.rc;
         with a disk zarpo-cut (a fresh image): `writing` is written, then the package is
         installed onto it, its trace to cut.trace, and `installed` once it ended; then the
         step waits for the host to kill the machine.
  cost   RUNS installs per mount option set onto fresh folders of disk zarpo-cost, the drive
         registered as removable (written through) and as fixed; the times go to cost.txt.

    pulled_disk_guest.py --guest DIR
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

from zarpolib.keydisk import LinuxDrive, disk_of, mount


def install(root, package, kind="removable", trace=None):
    """install-package-file onto E: = `root`: (installed, seconds)."""
    with LinuxDrive(root, kind, trace) as linux:
        started = time.monotonic()
        installed = linux.install(package)
        return installed, time.monotonic() - started


def guest_step(out):
    with open(os.path.join(out, "params")) as f:
        params = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    package = os.path.join(out, "package.pkg")
    if params["step"] == "cost":
        with open(os.path.join(out, "cost.txt"), "w") as report:
            for options in params["cost_options"].split(";"):
                point = mount("zarpo-cost", options)
                for run in range(int(params["runs"])):
                    for kind in ("removable", "fixed"):
                        root = os.path.join(point, "%s-%d" % (kind, run))
                        os.makedirs(os.path.join(root, "Zarpo"))
                        os.sync()
                        installed, seconds = install(root, package, kind)
                        started = time.monotonic()
                        os.sync()
                        synced = time.monotonic() - started
                        report.write("%s %s %d %d %.3f %.3f\n"
                                     % (options, kind, run, installed, seconds, synced))
                        report.flush()
                        shutil.rmtree(root)
                        os.sync()
                subprocess.run(["umount", point], check=True)
        return 0
    options = params["options"]
    if disk_of("zarpo-check"):
        point = mount("zarpo-check", options)
        installed, seconds = install(point, package,
                                     trace=os.path.join(out, "check.trace"))
        with open(os.path.join(out, "check.rc"), "w") as f:
            f.write("%d %.3f\n" % (installed, seconds))
        subprocess.run(["umount", point], check=True)
        os.sync()
    if disk_of("zarpo-cut"):
        point = mount("zarpo-cut", options)
        os.makedirs(os.path.join(point, "Zarpo"))
        os.sync()
        with open(os.path.join(out, "writing"), "w") as f:
            f.write("now\n")
        installed, seconds = install(point, package, trace=os.path.join(out, "cut.trace"))
        with open(os.path.join(out, "installed"), "w") as f:
            f.write("%d %.3f\n" % (installed, seconds))
        time.sleep(300)  # the host kills the machine now at the latest
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--guest", required=True)
    return guest_step(parser.parse_args().guest)


if __name__ == "__main__":
    sys.exit(main())
