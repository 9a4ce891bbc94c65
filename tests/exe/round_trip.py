#!/usr/bin/env python3
"""A release engineer's round trip with the packer and the build, on the built updater:

    round_trip.py --packer zarpo-pack --exe ZarpoUpdate.exe --source DIR --work DIR
                  --toolchain FILE --version x.y.z

The release the updater carries, whatever it is, is extracted, scanned into a manifest, packed
again and built, signed, twice into a new updater with that version: the same bytes, whose
listing names the version and the package's SHA-256, and which diff finds equal to the first.
Then, one row at a time, the release is changed as a release engineer might change it, packed,
and diffed against the first updater: each row says what diff must report, a changed file that
would never reach a key disk and a removed one that stays there among them.
"""
import argparse
import hashlib
import os
import secrets
import shutil
import subprocess
import sys


def run(*command, expect=0):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if expect is not None and result.returncode != expect:
        raise SystemExit("FAIL: %s exited %d (wanted %d):\n%s%s" % (
            " ".join(command), result.returncode, expect, result.stdout, result.stderr))
    return result


def release_file(release, index, non_empty=False):
    """A file of the extracted release, in name order: (path, name as the package stores it)."""
    paths = sorted(os.path.join(folder, name) for folder, _, names in os.walk(release)
                   for name in names)
    path = [p for p in paths if os.path.getsize(p) > 0 or not non_empty][index]
    return path, os.path.relpath(path, release).replace(os.sep, "\\")


def change_contents_same_size(release):
    path, name = release_file(release, 0, non_empty=True)
    before = os.stat(path)
    mode = before.st_mode
    with open(path, "rb") as f:
        data = bytearray(f.read())
    data[0] ^= 0xFF
    os.chmod(path, 0o644)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)
    os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))
    return name


def change_contents_and_time(release):
    path, name = release_file(release, 0)
    mode = os.stat(path).st_mode
    os.chmod(path, 0o644)
    with open(path, "ab") as f:
        f.write(b"more")
    os.chmod(path, mode)
    return name


def add_file(release):
    name = "RoundTripModule.dll"  # not a name of a real release
    with open(os.path.join(release, name), "wb") as f:
        f.write(b"a module the old release did not have")
    os.utime(os.path.join(release, name), (1767225600, 1767225600))  # 2026-01-01
    return name


def remove_file(release):
    path, name = release_file(release, -1)
    os.remove(path)
    return name


# (what is changed, how, exit code of diff, what its output must hold; NAME: the file changed).
# A removed file always stays on key disks: a release never holds a name of the obsolete list.
ROWS = [
    ("nothing", None, 0, ["0 added, 0 removed, 0 changed, 0 never delivered, 0 stay"]),
    ("a module added", add_file, 0, ["added     NAME", "1 added, 0 removed, 0 changed"]),
    ("a file removed", remove_file, 1, ["removed   NAME", "STAYS ON KEY DISKS NAME:", "1 stay"]),
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

    # Two signed builds, with the scanned release and a version of its own.
    signer = os.path.join(args.work, "signer")
    with open(signer + ".pass", "w") as f:
        f.write(secrets.token_hex(12) + "\n")
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
        "/CN=Zarpo test signer", "-keyout", signer + ".key", "-out", signer + ".crt")
    run("openssl", "pkcs12", "-export", "-inkey", signer + ".key", "-in", signer + ".crt",
        "-out", signer + ".p12", "-passout", "file:" + signer + ".pass")
    signed = []
    for build in (os.path.join(args.work, "build"), os.path.join(args.work, "build-again")):
        run("cmake", "-S", args.source, "-B", build, "-G", "Ninja", "--toolchain", args.toolchain,
            "-DCMAKE_BUILD_TYPE=MinSizeRel", "-DZARPO_TESTS=OFF", "-DZARPO_PACKAGE=" + package,
            "-DZARPO_RELEASE_VERSION=" + args.version, "-DZARPO_SIGN_PKCS12=" + signer + ".p12",
            "-DZARPO_SIGN_PASSWORD_FILE=" + signer + ".pass")
        run("cmake", "--build", build, "--target", "ZarpoUpdate")
        built = os.path.join(build, "ZarpoUpdate.exe")
        with open(built, "rb") as f:
            signed.append(f.read())
    if signed[0] != signed[1]:
        raise SystemExit("FAIL: two signed builds of the same release differ")
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
