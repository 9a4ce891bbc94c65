#!/usr/bin/env python3
"""A release engineer's round trip with the packer and the build, on the built updater:

    round_trip.py --packer zarpo-pack --exe ZarpoUpdate.exe --source DIR --work DIR
                  --toolchain FILE --version x.y.z

The release the updater carries, whatever it is, is extracted, scanned into a manifest, packed
again and built into a new updater with that version; the new updater's listing names the version
and the package's SHA-256, and diff finds it equal to the first. Then, one row at a time, the
release is changed as a release engineer might change it, packed, and diffed against the first
updater: each row says what diff must report, a changed file that would never reach a key disk
and a removed one that would stay there among them. The files changed are picked from the
release itself.
"""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys


def run(*command, expect=0):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if expect is not None and result.returncode != expect:
        raise SystemExit("FAIL: %s exited %d (wanted %d):\n%s%s" % (
            " ".join(command), result.returncode, expect, result.stdout, result.stderr))
    return result


def release_files(release):
    """Every file of the extracted release: (path on the host, name as the package stores it)."""
    found = []
    for folder, _, names in os.walk(release):
        for name in names:
            path = os.path.join(folder, name)
            found.append((path, os.path.relpath(path, release).replace(os.sep, "\\")))
    return sorted(found, key=lambda pair: pair[1])


def with_contents(release):
    """The first file that has contents, so that a byte of it can change."""
    return next(pair for pair in release_files(release) if os.path.getsize(pair[0]) > 0)


def rewrite(path, change):
    """Changes a file's bytes, read-only or not, and gives it back its mode."""
    mode = os.stat(path).st_mode
    os.chmod(path, 0o644)
    with open(path, "rb") as f:
        data = bytearray(f.read())
    with open(path, "wb") as f:
        f.write(change(data))
    os.chmod(path, mode)


def change_contents_same_size(release):
    path, name = with_contents(release)
    before = os.stat(path)
    rewrite(path, lambda data: bytes([data[0] ^ 0xFF]) + data[1:])
    os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))
    return name


def change_contents_and_time(release):
    path, name = release_files(release)[0]
    rewrite(path, lambda data: data + b"more")
    return name


def add_file(release):
    names = {name.lower() for _, name in release_files(release)}
    name = next("NewModule%d.dll" % i for i in range(len(names) + 1)
                if "newmodule%d.dll" % i not in names)
    with open(os.path.join(release, name), "wb") as f:
        f.write(b"a module the old release did not have")
    os.utime(os.path.join(release, name), (1767225600, 1767225600))  # 2026-01-01
    return name


def remove_file(release):
    path, name = release_files(release)[-1]
    os.remove(path)
    return name


# (what is changed, how, exit code of diff, what its output must hold; NAME is the file changed)
ROWS = [
    ("nothing", None, 0, ["0 added, 0 removed, 0 changed, 0 never delivered, 0 stay"]),
    ("a module added", add_file, 0, ["added     NAME", "1 added, 0 removed, 0 changed"]),
    # Nothing of a release can be on the obsolete list (the packer refuses such names).
    ("a file removed", remove_file, 1,
     ["removed   NAME", "STAYS ON KEY DISKS NAME:", "0 added, 1 removed", "1 stay on key disks"]),
    ("new contents, a new time", change_contents_and_time, 0,
     ["changed   NAME (contents, time", "0 never delivered"]),
    ("new contents, same size and time", change_contents_same_size, 1,
     ["NEVER DELIVERED NAME", "1 never delivered"]),
]


def main():
    parser = argparse.ArgumentParser()
    for name in ("packer", "exe", "source", "work", "toolchain", "version"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    packer = args.packer
    first = os.path.join(args.work, "first")
    run(packer, "extract", args.exe, "--output", first)

    manifest = os.path.join(args.work, "release.manifest")
    scanned = run(packer, "scan", "--root", first, "--output", manifest)
    if scanned.stderr:
        raise SystemExit("FAIL: scan left files out:\n" + scanned.stderr)
    package = os.path.join(args.work, "release.pkg")
    run(packer, "pack", "--root", first, "--manifest", manifest, "--output", package)
    run(packer, "diff", args.exe, package)

    # The build, with the scanned release and a version of its own.
    build = os.path.join(args.work, "build")
    run("cmake", "-S", args.source, "-B", build, "-G", "Ninja", "--toolchain", args.toolchain,
        "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DZARPO_PACKAGE=" + package,
        "-DZARPO_RELEASE_VERSION=" + args.version)
    run("cmake", "--build", build, "--target", "ZarpoUpdate")
    built = os.path.join(build, "ZarpoUpdate.exe")
    with open(package, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    listing = run(packer, "list", built).stdout
    wanted = "updater version %s.0, package SHA-256 %s" % (args.version, digest)
    if not listing.startswith(wanted):
        raise SystemExit("FAIL: the new updater lists as %r, wanted %r" % (
            listing.splitlines()[0], wanted))
    run(packer, "verify", built)
    run(packer, "diff", args.exe, built)

    failures = []
    for what, change, code, says in ROWS:
        release = os.path.join(args.work, "release-" + what.replace(" ", "-").replace(",", ""))
        run(packer, "extract", args.exe, "--output", release)
        name = change(release) if change else ""
        row_manifest = release + ".manifest"
        run(packer, "scan", "--root", release, "--output", row_manifest)
        row_package = release + ".pkg"
        run(packer, "pack", "--root", release, "--manifest", row_manifest, "--output", row_package)
        result = run(packer, "diff", args.exe, row_package, expect=None)
        if result.returncode != code:
            failures.append("%s: diff exited %d, wanted %d" % (what, result.returncode, code))
        for text in (text.replace("NAME", name) for text in says):
            if text not in result.stdout:
                failures.append("%s: %r not in:\n%s" % (what, text, result.stdout))
    for failure in failures:
        print("FAIL: " + failure)
    if failures:
        return 1
    shutil.rmtree(args.work, ignore_errors=True)
    print("round trip: extract, scan, pack, build %s, list, diff; %d changes diffed"
          % (args.version, len(ROWS)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
