#!/usr/bin/env python3
"""A release shipped from Windows, end to end under Wine, with the release engineer's two
Windows programs of the 64-bit tree: release/zarpo-pack.exe and ZarpoUpdate-stub.exe.

    shipping.py --list
    shipping.py --build DIR --source DIR --template DIR --scenario ship-from-windows

The command line, sandboxes and checks are scenarios.py's. A release folder is made through the
wide Win32 calls, by the Windows packer's extract of a package written here: Japanese names
whose second bytes are backslashes, read-only, hidden and system files, a Setup.exe, nested
folders, a time between two even seconds. The Windows packer scans and packs it back to the
entries it was made from, and the Linux packer (host-tools/) does the same with the folder as
Linux sees it (hidden and system in user.DOSATTRIB, read-only in the mode): both packages must
hold the same entries, shown as a table, and the manifests the same lines, but for the archive
bit Wine does not keep on Linux; given the Windows manifest, the Linux packer makes the Windows
package byte for byte. Names that code page 932 cannot spell are left out by both scans and
refused by both packs. The stub stamped with the package twice gives the same bytes, passes the
shipped program's checks, signed with a throwaway certificate too (tests/exe), installs the
release onto an empty key disk and finds it up to date on a second run (scenarios.py's
fresh-install and rerun).
"""
import hashlib
import os
import subprocess
import sys
import time

import scenarios
import zarpo_format
from zarpo_format import filetime
from zarpolib import wine
from zarpolib.scenario import wine_attributes

VERSION = scenarios.STAMPED_VERSION
TWO_SECONDS = 20_000_000  # in FILETIME steps of 100 ns

# The release folder, made through Win32: name below it, attributes, last write (UTC FILETIME).
# 表 is 95 5C and 構 8D 5C in code page 932; readme.txt's time lies between two even seconds.
RELEASE = [
    ("Setup.exe", 0x21, filetime(2026, 3, 1, 9, 0, 0)),
    ("ZarpoCore.dll", 0x27, filetime(2026, 3, 1, 9, 0, 2)),
    ("readme.txt", 0x20, filetime(2026, 3, 2, 10, 30, 3) + 7_000_000),
    ("表計算\\構成.txt", 0x20, filetime(2026, 2, 27, 18, 4, 6)),
    ("表計算\\隠し設定.ini", 0x22, filetime(2026, 2, 27, 18, 4, 8)),
    ("ヘルプ\\目次.dat", 0x24, filetime(2025, 12, 31, 23, 59, 58)),
    ("ヘルプ\\索引\\データ.bin", 0x21, filetime(2024, 7, 7, 7, 7, 6)),
    ("data\\empty.bin", 0x20, filetime(2026, 1, 1, 0, 0, 0)),
]
# Beside a file that packs, names that code page 932 cannot spell: best fit would make "é" an
# "e", and an emoji has no code at all.
KEPT = "kept.txt"
REFUSED = ["café.txt", "\U0001F600.txt"]


def contents(name, setup_program):
    if name == "Setup.exe":
        return setup_program
    if name.endswith("empty.bin"):
        return b""
    return ("%s of the release\r\n" % name).encode("utf-8") * 7


class Packers:
    """The same subcommands through the Windows packer under Wine and through the Linux one.
    Paths are given as Linux paths, and as Z: paths to the Windows packer. Each run gives its
    exit code, standard output and standard error, the last two as text."""

    def __init__(self, ctx, sandbox):
        self.sandbox = sandbox
        self.windows_exe = os.path.join(ctx.build, "release", "zarpo-pack.exe")
        self.linux_exe = os.path.join(ctx.build, "host-tools", "release", "zarpo-pack")
        for path in (self.windows_exe, self.linux_exe):
            if not os.path.isfile(path):
                raise wine.Failure("%s was not built" % path)

    def windows(self, *args):
        args = [wine.windows_path(a) if a.startswith("/") else a for a in args]
        code, out, err = self.sandbox.start("zarpo-pack", self.windows_exe, *args,
                                            keep_stdout=True).wait(120)
        return code, out.decode("utf-8", errors="replace"), err.decode("utf-8", errors="replace")

    def linux(self, *args):
        result = subprocess.run([self.linux_exe] + list(args), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=wine.scaled(120))
        return (result.returncode, result.stdout.decode("utf-8", errors="replace"),
                result.stderr.decode("utf-8", errors="replace"))

    def sides(self):
        return [("Windows", self.windows), ("Linux", self.linux)]


def must(what, result):
    code, out, err = result
    if code != 0:
        raise wine.Failure("%s exited %d:\n%s%s" % (what, code, out, err))
    return out, err


def described(entries):
    """Entries as compared and shown: name, attributes, last write, size, SHA-256."""
    return [(e.name, e.attributes, e.last_write, len(e.data), hashlib.sha256(e.data).hexdigest())
            for e in entries]


def entry_table(packages):
    """The packages' entries, one line each, for the test's output: {side: entries}."""
    lines = ["%-7s  %-10s  %-19s  %6s  %-16s  %s" % ("packed", "attributes", "last write (UTC)",
                                                    "size", "SHA-256", "name: code page 932")]
    for side, entries in packages.items():
        for name, attributes, last_write, size, digest in described(entries):
            seconds = (last_write - zarpo_format.EPOCH_AS_FILETIME) // 10_000_000
            lines.append("%-7s  0x%02X        %-19s  %6d  %-16s  %s: %s" % (
                side, attributes, time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(seconds)),
                size, digest[:16], name.decode("cp932"), name.hex(" ")))
    return "\n".join(lines)


def linux_view(attributes):
    """What the Linux packer reads for a file that Windows under Wine reports with `attributes`.
    Wine keeps only HIDDEN and SYSTEM in user.DOSATTRIB ("0x6" for 0x27) and READONLY in the
    mode, and reports ARCHIVE for every file; the packer takes a user.DOSATTRIB value as it
    stands, as it must for Samba's, so those files lose ARCHIVE on the Linux side."""
    return attributes & ~0x20 if attributes & 0x06 else attributes


def manifest_lines(path, attributes=lambda a: a):
    """The manifest's lines but comments, the attributes of each passed through `attributes`."""
    with open(path, "rb") as f:
        lines = [line for line in f.read().split(b"\n") if not line.startswith(b"#")]
    for i, line in enumerate(lines):
        fields = line.split(b"  ")
        if len(fields) == 3:
            lines[i] = b"  ".join([b"0x%02X" % attributes(int(fields[0], 16))] + fields[1:])
    return lines


def pack_both_sides(ctx, sandbox, packers, release, rows):
    """The release folder scanned and packed on both sides; the Windows package's path and
    entries."""
    made = {}
    for side, run in packers.sides():
        manifest = os.path.join(sandbox.root, side + ".manifest")
        package = os.path.join(sandbox.root, side + ".pkg")
        _, err = must(side + " scan", run("scan", "--root", release, "--output", manifest))
        ctx.checks.equal(err, "", "what the %s scan said" % side)
        must(side + " pack", run("pack", "--root", release, "--manifest", manifest,
                                 "--output", package))
        with open(package, "rb") as f:
            made[side] = (manifest, package, zarpo_format.read_package(f.read()))
    windows, linux = made["Windows"][2], made["Linux"][2]
    print(entry_table({"Windows": windows, "Linux": linux}))

    wanted = [zarpo_format.PackageEntry(name.encode("cp932"), data, wine_attributes(attributes),
                                        last_write - last_write % TWO_SECONDS)
              for name, attributes, last_write, data in rows]
    ctx.checks.equal(sorted(described(windows)), sorted(described(wanted)),
                     "the entries packed on Windows against the release folder")
    as_linux = [zarpo_format.PackageEntry(e.name, e.data, linux_view(e.attributes), e.last_write)
                for e in windows]
    ctx.checks.equal(described(linux), described(as_linux),
                     "the entries packed on Linux against those packed on Windows, in order")
    ctx.checks.equal(manifest_lines(made["Linux"][0]),
                     manifest_lines(made["Windows"][0], linux_view),
                     "the manifests' lines but comments")
    # Given the same files and the attributes Windows reports (the Windows manifest), the Linux
    # packer makes the same package, byte for byte.
    same = os.path.join(sandbox.root, "Linux-from-Windows-manifest.pkg")
    must("Linux pack with the Windows manifest",
         packers.linux("pack", "--root", release, "--manifest", made["Windows"][0],
                       "--output", same))
    with open(same, "rb") as f, open(made["Windows"][1], "rb") as g:
        ctx.checks.true(f.read() == g.read(), "the Linux packer, given the Windows manifest, "
                        "made another package than the Windows packer")
    return made["Windows"][1], windows


def refuse_names(ctx, sandbox, packers, folder):
    """Names code page 932 cannot spell: named and left out by scan, refused by pack."""
    for side, run in packers.sides():
        code, manifest, said = run("scan", "--root", folder)
        ctx.checks.equal(code, 0, "exit code of the %s scan of %s" % (side, folder))
        ctx.checks.equal([line.split()[1] for line in manifest.splitlines()
                          if line and not line.startswith("#")], [KEPT],
                         "the files in the %s scan's manifest of %s" % (side, folder))
        for i, name in enumerate(REFUSED):
            ctx.checks.true(any("left out" in line and name in line for line in said.splitlines()),
                            "the %s scan does not name %s as left out:\n%s" % (side, name, said))
            manifest = os.path.join(sandbox.root, "refused-%s-%d.manifest" % (side, i))
            with open(manifest, "w", encoding="utf-8") as f:
                f.write("0x20  %s  2026-03-01T00:00:00Z\n" % name)
            package = manifest + ".pkg"
            code, out, err = run("pack", "--root", folder, "--manifest", manifest,
                                 "--output", package)
            ctx.checks.true(code != 0 and not os.path.exists(package),
                            "the %s pack took %s (exit %d):\n%s%s" % (side, name, code, out, err))


def stamp_and_sign(ctx, sandbox, packers, package):
    """The stub stamped with the package twice (the same bytes, held to the shipped program's
    checks), listed, and signed and verified as tests/exe does; the stamped program's path."""
    stamped = []
    for i in range(2):
        path = os.path.join(sandbox.root, "stamped-%d" % i, "ZarpoUpdate.exe")
        os.makedirs(os.path.dirname(path))
        scenarios.stamp(ctx, sandbox, package, path)
        with open(path, "rb") as f:
            stamped.append(f.read())
    ctx.checks.true(stamped[0] == stamped[1], "stamping twice gave different bytes")
    updater = os.path.join(sandbox.root, "stamped-0", "ZarpoUpdate.exe")

    out, _ = must("list", packers.windows("list", updater))
    print(out.strip())
    with open(package, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    first = out.splitlines()[0] if out else ""
    ctx.checks.true(VERSION in first and digest in first,
                    "list names not both version %s and SHA-256 %s:\n%s" % (VERSION, digest, out))

    exe_tests = os.path.join(ctx.source, "tests", "exe")
    check = ["--package", package, "--version", VERSION, "--machine", "x86_64"]
    signing = ["cmake", "-DEXE=" + updater, "-DWORK=" + os.path.join(sandbox.root, "signing"),
               "-DCHECK=" + os.path.join(exe_tests, "check_exe.py"), "-DPYTHON=" + sys.executable,
               "-DARGS=" + " ".join(check), "-DPACKER=" + packers.linux_exe,
               "-DPACKAGE=" + package, "-DREVIEW=" + os.path.join(exe_tests, "review_exe.py"),
               "-DMACHINE=x86_64", "-P", os.path.join(exe_tests, "sign_test.cmake")]
    result = subprocess.run(signing, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            timeout=wine.scaled(120))
    print(result.stdout.strip())
    ctx.checks.equal(result.returncode, 0, "exit code of signing and verifying the stamped updater")
    return updater


def ship_from_windows(ctx):
    with ctx.sandbox("ship") as sandbox:
        packers = Packers(ctx, sandbox)
        rows = [(n, a, t, contents(n, ctx.setup_program)) for n, a, t in RELEASE]
        made = os.path.join(sandbox.root, "made.pkg")
        with open(made, "wb") as f:
            f.write(zarpo_format.build_package([zarpo_format.PackageEntry(
                n.encode("cp932"), d, a, t) for n, a, t, d in rows]))
        release = os.path.join(sandbox.root, "release")
        must("extract", packers.windows("extract", made, "--output", release))
        # Names a package cannot hold, made from Linux; Wine shows them to Win32 as they are.
        refused = os.path.join(sandbox.root, "refused")
        os.makedirs(refused)
        for name in [KEPT] + REFUSED:
            with open(os.path.join(refused, name), "wb") as f:
                f.write(b"x")

        package, entries = pack_both_sides(ctx, sandbox, packers, release, rows)
        refuse_names(ctx, sandbox, packers, refused)
        updater = stamp_and_sign(ctx, sandbox, packers, package)

        # The stamped updater in the place of the built one, its release in that of the sample.
        ctx.updater = updater
        with open(package, "rb") as f:
            ctx.sample_package = f.read()
        ctx.sample = entries
        scenarios.fresh_install(ctx)
        scenarios.rerun(ctx)


SHIPPING = {
    "ship-from-windows": ship_from_windows,
}

if __name__ == "__main__":
    sys.exit(scenarios.main(SHIPPING))
