#!/usr/bin/env python3
"""End-to-end scenarios of the updater under Wine.

    scenarios.py --list
    scenarios.py --build DIR --source DIR --template DIR --make-template
    scenarios.py --build DIR --source DIR --template DIR --scenario NAME

    scenarios.py ... --arch win32 --time-scale 4    the 32-bit product, in an emulated machine

Each scenario runs the updater (DIR/ZarpoUpdate.exe, or a copy carrying another package)
in a sandbox of its own, answers its boxes through the dialog driver, catches its trace lines
with DebugMonitor, and checks the outcome from both sides: the Linux files, and what Win32
reports about them (tests/wine/helpers/stat.exe), the box texts and trace lines byte for byte.
"""
import argparse
import hashlib
import os
import signal
import subprocess
import sys
import time

import monitor
import zarpo_format
from zarpo_format import PackageEntry, filetime
from zarpolib import wine
from zarpolib.scenario import (FAILED_BOX, IDNO, IDYES, NO_KEY_DISK_BOX, Context, confirm_box,
                               done_box, fresh_trace, target)

OBSOLETE = ["ZpFont32.dll", "ZpPlot32.dll", "ZpScan32.dll", "ZpLink32.dll", "ZpView.ocx",
            "ZpConv.exe", "ZpMaint.exe"]


def test_entries(setup_program):
    """A package of our own: a working stand-in Setup.exe, Japanese names whose second bytes
    are backslashes (表 = 95 5C, 構 = 8D 5C), read-only and hidden files, nested folders."""
    names = ["Setup.exe", "表計算\\構成.txt", "ヘルプ\\索引\\目次.dat", "readme.txt",
             "data\\fifth.bin", "data\\sixth.bin", "zz-last.txt"]
    attributes = [0x20, 0x21, 0x22, 0x20, 0x20, 0x20, 0x20]
    entries = []
    for i, (name, attribute) in enumerate(zip(names, attributes)):
        data = (setup_program if i == 0
                else ("entry %d: %s\r\n" % (i + 1, name)).encode("cp932") * (i + 1))
        entries.append(PackageEntry(name.encode("cp932"), data, attribute,
                                    filetime(2025, 6, 1 + i, 10, 20, 2 * i)))
    return entries


def snapshot(folder):
    """Everything about a tree that an update could change, seen from Linux."""
    state = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            info = os.lstat(path)
            try:
                dosattrib = os.getxattr(path, "user.DOSATTRIB")
            except OSError:
                dosattrib = None
            digest = None
            if not os.path.isdir(path):
                with open(path, "rb") as f:
                    digest = hashlib.sha256(f.read()).hexdigest()
            state[os.path.relpath(path, folder)] = (info.st_mode, info.st_size, info.st_mtime_ns,
                                                    info.st_ctime_ns, dosattrib, digest)
    return state


def old_release():
    """Files an earlier release left: obsolete ones (one also in a sub-folder, where it stays),
    and one the package does not name."""
    files = {name: b"obsolete " + name.encode() for name in OBSOLETE}
    files["sub/ZpFont32.dll"] = b"not in the product folder itself"
    files["own notes.txt"] = b"the user's file"
    return files


def make_zarpo(drive):
    folder = os.path.join(drive, "Zarpo")
    os.makedirs(folder)
    return folder


# Scenarios ------------------------------------------------------------------------------------

def fresh_install(ctx):
    """The sample release into an empty product folder; the setup offer declined."""
    with ctx.sandbox("fresh") as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        ctx.plant(zarpo, old_release())
        code = ctx.update(sandbox, ["yes", "no"], 2)
        ctx.check_exit(code)
        ctx.check_boxes(sandbox, [confirm_box("E", IDYES), done_box(IDNO)])
        ctx.check_trace(sandbox.trace_lines(), fresh_trace("E", ctx.sample))
        ctx.check_installed(sandbox, zarpo, "E", ctx.sample)
        ctx.check_absent(os.path.join(zarpo, name) for name in OBSOLETE)
        for kept in ("sub/ZpFont32.dll", "own notes.txt"):
            ctx.checks.true(os.path.exists(os.path.join(zarpo, kept)), kept + " was removed")


def rerun(ctx):
    """A second run over an up-to-date key disk finds every file identical and writes nothing."""
    with ctx.sandbox("rerun") as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        ctx.check_exit(ctx.update(sandbox, ["yes", "no"], 2))
        first = len(sandbox.trace_lines())
        before = snapshot(zarpo)
        os.remove(sandbox.boxes_path)
        ctx.check_exit(ctx.update(sandbox, ["yes", "no"], 2))
        ctx.check_boxes(sandbox, [confirm_box("E", IDYES), done_box(IDNO)])
        ctx.check_trace(sandbox.trace_lines()[first:],
                        [b"Existing [" + target("E", e) + b"]" for e in ctx.sample])
        ctx.checks.equal(snapshot(zarpo), before, "the key disk after the second run")


STAMPED_VERSION = "4.5.6"


def stamp(ctx, sandbox, package, output):
    """The stub stamped with the package file by the tree's own zarpo-pack.exe, as a release
    engineer on Windows makes the updater, and held to the shipped program's checks."""
    packer = os.path.join(ctx.build, "release", "zarpo-pack.exe")
    code, out, err = sandbox.start("zarpo-pack", packer, "stamp", "--stub",
                                   wine.windows_path(ctx.stub), "--package",
                                   wine.windows_path(package), "--version", STAMPED_VERSION,
                                   "--output", wine.windows_path(output),
                                   keep_stdout=True).wait(120)
    said = (out or b"").decode("utf-8", "replace") + err.decode("utf-8", "replace")
    if code != 0 or not os.path.isfile(output):
        raise wine.Failure("stamp exited %d and made %s:\n%s"
                           % (code, "it" if os.path.isfile(output) else "nothing", said))
    check = [sys.executable, os.path.join(ctx.source, "tests", "exe", "check_exe.py"),
             "--exe", output, "--package", package, "--version", STAMPED_VERSION,
             "--machine", "i386" if wine.WINEARCH == "win32" else "x86_64"]
    result = subprocess.run(check, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            timeout=wine.scaled(120))
    print(result.stdout.strip())
    ctx.checks.equal(result.returncode, 0, "exit code of the checks of the stamped updater")


def stamped_stub(ctx):
    """The stub stamped with the sample release installs it as the built updater does: a fresh
    install, then a rerun that finds it up to date."""
    with ctx.sandbox("stamp") as sandbox:
        package = os.path.join(sandbox.root, "release.pkg")
        with open(package, "wb") as f:
            f.write(ctx.sample_package)
        ctx.updater = os.path.join(sandbox.root, "ZarpoUpdate.exe")
        stamp(ctx, sandbox, package, ctx.updater)
        fresh_install(ctx)
        rerun(ctx)


def declined(ctx):
    """No at the confirmation: one box, no trace line, the key disk as it was."""
    with ctx.sandbox("declined") as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        ctx.plant(zarpo, old_release())
        before = snapshot(zarpo)
        ctx.check_exit(ctx.update(sandbox, ["no"], 1))
        ctx.check_boxes(sandbox, [confirm_box("E", IDNO)])
        ctx.check_trace(sandbox.trace_lines(), [])
        ctx.checks.equal(snapshot(zarpo), before, "the key disk after No")


def no_key_disk(ctx):
    """The product folder on a fixed drive and a removable drive without it: no key disk."""
    with ctx.sandbox("nokey") as sandbox:
        fixed = make_zarpo(sandbox.map_drive("e", "hd"))
        sandbox.map_drive("d", "floppy")
        ctx.check_exit(ctx.update(sandbox, [], 1))
        ctx.check_boxes(sandbox, [NO_KEY_DISK_BOX])
        ctx.check_trace(sandbox.trace_lines(), [])
        ctx.checks.equal(os.listdir(fixed), [], "the fixed drive's product folder")


def two_key_disks(ctx):
    """Key disks on F: and E: both hold the product folder: the higher letter, F:, is updated."""
    with ctx.sandbox("twodisks") as sandbox:
        on_e = make_zarpo(sandbox.map_drive("e", "floppy"))
        on_f = make_zarpo(sandbox.map_drive("f", "floppy"))
        ctx.check_exit(ctx.update(sandbox, ["yes", "no"], 2))
        ctx.check_boxes(sandbox, [confirm_box("F", IDYES), done_box(IDNO)])
        ctx.check_trace(sandbox.trace_lines(), fresh_trace("F", ctx.sample))
        ctx.check_installed(sandbox, on_f, "F", ctx.sample)
        ctx.checks.equal(os.listdir(on_e), [], "E:\\Zarpo after the update of F:")


def bad_package(ctx):
    """A package failing its checksum: failure box, no entry written, obsolete files removed,
    no trace line at all."""
    with ctx.sandbox("badpkg") as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        ctx.plant(zarpo, old_release())
        ctx.plant(zarpo, {"Zarpo.exe": b"the old program"})
        package = bytearray(ctx.sample_package)
        package[8] ^= 0x01          # the CRC-32 of the unpacked data
        updater = ctx.swapped_updater(sandbox, bytes(package))
        before = snapshot(zarpo)
        ctx.check_exit(ctx.update(sandbox, ["yes"], 2, updater))
        ctx.check_boxes(sandbox, [confirm_box("E", IDYES), FAILED_BOX])
        ctx.check_trace(sandbox.trace_lines(), [])
        after = snapshot(zarpo)
        for name in OBSOLETE:
            del before[name]
        ctx.checks.equal(after, before, "the key disk apart from the obsolete files")


def missing_package(ctx, stub=False):
    """No package resource at all: failure box, the key disk untouched (obsolete files too).
    `stub`: the built stub (ZarpoUpdate-stub.exe), as shipped for stamping, instead of the
    updater with its package taken out."""
    with ctx.sandbox("stub" if stub else "nopkg") as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        ctx.plant(zarpo, old_release())
        updater = ctx.stub if stub else ctx.swapped_updater(sandbox, None)
        before = snapshot(zarpo)
        ctx.check_exit(ctx.update(sandbox, ["yes"], 2, updater))
        ctx.check_boxes(sandbox, [confirm_box("E", IDYES), FAILED_BOX])
        ctx.check_trace(sandbox.trace_lines(), [])
        ctx.checks.equal(snapshot(zarpo), before, "the key disk")


def failed_write(ctx):
    """The fifth entry's target is a folder: entries one to four written, "[...] 0" for the
    fifth, nothing after it, obsolete files removed, failure box."""
    with ctx.sandbox("failwrite") as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        entries = test_entries(ctx.setup_program)
        ctx.plant(zarpo, old_release())
        ctx.plant(zarpo, {"data/sixth.bin": b"sixth, old"})
        fifth = entries[4].linux_path(zarpo)
        os.makedirs(fifth)
        seconds = entries[4].last_write // 10_000_000 - 11644473600
        os.utime(fifth, (seconds, seconds))
        updater = ctx.swapped_updater(sandbox, zarpo_format.build_package(entries))
        sixth_before = snapshot(os.path.dirname(fifth))["sixth.bin"]
        ctx.check_exit(ctx.update(sandbox, ["yes"], 2, updater))
        ctx.check_boxes(sandbox, [confirm_box("E", IDYES), FAILED_BOX])
        # The folder found at the fifth target: size 0 and FILE_ATTRIBUTE_DIRECTORY (0x10) against
        # the entry's, the same DOS time.
        difference = (0x10 - entries[4].attributes) & 0xFFFFFFFF
        fifth_target = target("E", entries[4])
        expected = fresh_trace("E", entries[:4]) + [
            b"Different [%s] %d, %X, 0" % (fifth_target, -len(entries[4].data), difference),
            b"[" + fifth_target + b"] 0"]
        ctx.check_trace(sandbox.trace_lines(), expected)
        ctx.check_installed(sandbox, zarpo, "E", entries[:4])
        ctx.checks.true(os.path.isdir(fifth), "the folder at the fifth target is gone")
        ctx.checks.equal(snapshot(os.path.dirname(fifth))["sixth.bin"], sixth_before,
                         "the sixth entry's old file")
        ctx.check_absent([entries[6].linux_path(zarpo)] +
                         [os.path.join(zarpo, name) for name in OBSOLETE])


def setup_started(ctx, answer):
    with ctx.sandbox("setup-" + answer) as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        entries = test_entries(ctx.setup_program)
        updater = ctx.swapped_updater(sandbox, zarpo_format.build_package(entries))
        ctx.check_exit(ctx.update(sandbox, ["yes", answer], 2, updater))
        ctx.check_boxes(sandbox, [confirm_box("E", IDYES),
                                  done_box(IDYES if answer == "yes" else IDNO)])
        ctx.check_trace(sandbox.trace_lines(), fresh_trace("E", entries))
        ctx.check_installed(sandbox, zarpo, "E", entries)
        mark = os.path.join(zarpo, "setup-ran.txt")
        if answer == "yes":
            # The updater does not wait for the setup program it started.
            try:
                wine.wait_for(lambda: os.path.exists(mark), 30, "the setup program's mark")
            except wine.Failure as failure:
                ctx.checks.failures.append(str(failure))
        else:
            time.sleep(wine.scaled(3))
            ctx.check_absent([mark])


def file_in_use(ctx):
    """A packaged file held open without sharing by another program: the walk stops at it with
    "[...] 0" and the failure box, the held file keeps its contents; once it is released, a
    rerun completes."""
    with ctx.sandbox("inuse") as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        entries = test_entries(ctx.setup_program)
        held = entries[3]
        ctx.plant(zarpo, {"readme.txt": b"an older readme"})
        updater = ctx.swapped_updater(sandbox, zarpo_format.build_package(entries))
        ctx.begin(sandbox)
        ready = os.path.join(sandbox.root, "held")
        release = os.path.join(sandbox.root, "release")
        holder = sandbox.start("hold-file", ctx.tool("hold-file"), "E:\\Zarpo\\readme.txt",
                               wine.windows_path(ready), wine.windows_path(release), "150")
        wine.wait_for(lambda: os.path.exists(ready) or holder.popen.poll() is not None, 30,
                         "the file to be held open")
        if holder.popen.poll() is not None:
            raise wine.Failure("hold-file ended at once (exit code %d)" % holder.popen.returncode)

        ctx.check_exit(ctx.update(sandbox, ["yes"], 2, updater))
        ctx.check_boxes(sandbox, [confirm_box("E", IDYES), FAILED_BOX])
        lines = sandbox.trace_lines()
        ctx.check_trace(lines[:6], fresh_trace("E", entries[:3]))
        ctx.checks.equal(len(lines), 8, "number of trace lines")
        different = b"Different [" + target("E", held) + b"] "
        ctx.checks.true(len(lines) > 6 and lines[6].startswith(different),
                        "trace line 7 should compare the held file: %r" % lines[6:7])
        ctx.checks.equal(lines[7:8], [b"[" + target("E", held) + b"] 0"], "trace line 8")
        with open(held.linux_path(zarpo), "rb") as f:
            ctx.checks.equal(f.read(), b"an older readme", "the held file's contents")
        ctx.check_installed(sandbox, zarpo, "E", entries[:3])
        ctx.check_absent(e.linux_path(zarpo) for e in entries[4:])

        open(release, "wb").close()
        code, _, _ = holder.wait(30)
        ctx.checks.equal(code, 0, "exit code of hold-file")
        os.remove(sandbox.boxes_path)
        ctx.check_exit(ctx.update(sandbox, ["yes", "no"], 2, updater))
        ctx.check_boxes(sandbox, [confirm_box("E", IDYES), done_box(IDNO)])
        rerun_lines = sandbox.trace_lines()[len(lines):]
        ctx.check_trace(rerun_lines[:3],
                        [b"Existing [" + target("E", e) + b"]" for e in entries[:3]])
        ctx.checks.true(len(rerun_lines) > 3 and rerun_lines[3].startswith(different),
                        "the rerun should find the released file different: %r" % rerun_lines[3:4])
        ctx.check_trace(rerun_lines[4:], [b"[" + target("E", held) + b"] 1"] +
                        fresh_trace("E", entries[4:]))
        ctx.check_installed(sandbox, zarpo, "E", entries)


def special_names(ctx):
    """Entries that Windows would take for something else are refused by the program itself: a
    device name (the bytes would go to the device and no file would exist), one in a sub-folder,
    and a trailing dot (Windows would drop it and overwrite Dot.txt). Each run stops at the entry
    with "[...] 0" and the failure box; nothing is written for it, no folder is made for it, and
    the file it would have overwritten keeps its bytes."""
    with ctx.sandbox("special") as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        ctx.plant(zarpo, {"Dot.txt": b"the user's file"})
        first = test_entries(ctx.setup_program)[3]
        seen = 0
        for i, name in enumerate([b"NUL.txt", b"Sub\\com1.dll", b"Dot.txt."]):
            special = PackageEntry(name, b"never written\r\n", 0x20, filetime(2025, 6, 9, 8, 0, 0))
            updater = ctx.swapped_updater(sandbox, zarpo_format.build_package([first, special]))
            if i:
                os.remove(sandbox.boxes_path)
            ctx.check_exit(ctx.update(sandbox, ["yes"], 2, updater))
            ctx.check_boxes(sandbox, [confirm_box("E", IDYES), FAILED_BOX])
            lines = sandbox.trace_lines()
            expected = (fresh_trace("E", [first]) if i == 0
                        else [b"Existing [" + target("E", first) + b"]"])
            ctx.check_trace(lines[seen:], expected + [b"[" + target("E", special) + b"] 0"])
            seen = len(lines)
        ctx.check_installed(sandbox, zarpo, "E", [first])
        with open(os.path.join(zarpo, "Dot.txt"), "rb") as f:
            ctx.checks.equal(f.read(), b"the user's file", "Dot.txt after the trailing-dot entry")
        ctx.checks.equal(sorted(os.listdir(zarpo)), sorted(["Dot.txt", first.name.decode()]),
                         "the product folder")


def conformance(ctx):
    """The platform layer's conformance tests, built for Windows, run against Wine itself on a
    removable E:, so that our POSIX imitation and Wine are held to the same expectations."""
    with ctx.sandbox("conformance") as sandbox:
        drive = sandbox.map_drive("e", "floppy")
        os.makedirs(os.path.join(drive, "scratch"))
        os.environ["ZARPO_TEST_ROOT"] = "E:\\scratch\\"
        program = os.path.join(ctx.build, "tests", "platform-conformance.exe")
        code, out = sandbox.run("platform-conformance", program, "--gtest_brief=1", timeout=150)
        text = out.decode("utf-8", errors="replace")
        if code != 0:
            ctx.checks.failures.append("platform-conformance failed under Wine:\n" + text[-6000:])
        else:
            print(text.strip().splitlines()[-1] if text.strip() else "no output")


# DLLs that the system loads by name while the updater shows its boxes and starts Setup.exe,
# and while the monitor shows its window, and that are no known DLLs of Windows (seen with
# WINEDEBUG=+loaddll under Wine 8; the rest of what loads then is rpcrt4, combase, ole32 and
# comctl32 from the side-by-side store).
PLANTED = ["uxtheme.dll", "msimg32.dll"]


def planted_dll(ctx):
    """The updater and the monitor downloaded into a folder that holds planted DLLs, Wine told
    to prefer a file on disk for their names: a whole update with the setup started, and the
    monitor taking its lines, load none of them (each leaves a mark when it is loaded)."""
    with ctx.sandbox("planted") as sandbox:
        zarpo = make_zarpo(sandbox.map_drive("e", "floppy"))
        entries = test_entries(ctx.setup_program)
        swapped = ctx.swapped_updater(sandbox, zarpo_format.build_package(entries))
        downloads = os.path.join(sandbox.root, "Downloads")
        os.makedirs(downloads)
        updater = os.path.join(downloads, "ZarpoUpdate.exe")
        monitor_exe = os.path.join(downloads, "DebugMonitor.exe")
        wine.shutil.copy(swapped, updater)
        wine.shutil.copy(ctx.tool("DebugMonitor"), monitor_exe)
        for name in PLANTED:
            wine.shutil.copy(ctx.tool("planted-dll"), os.path.join(downloads, name))
        sandbox.dll_overrides = ";".join("%s=n,b" % n[:-len(".dll")] for n in PLANTED)
        sandbox.start_monitor(monitor_exe)
        try:
            ctx.check_exit(ctx.update(sandbox, ["yes", "yes"], 2, updater))
            ctx.check_boxes(sandbox, [confirm_box("E", IDYES), done_box(IDYES)])
            ctx.check_trace(sandbox.trace_lines(), fresh_trace("E", entries))
            wine.wait_for(lambda: os.path.exists(os.path.join(zarpo, "setup-ran.txt")), 30,
                             "the setup program's mark")
        except wine.Failure as failure:
            ctx.checks.failures.append(str(failure))
        for name in PLANTED:
            mark = os.path.join(downloads, name + ".loaded")
            if os.path.exists(mark):
                with open(mark, "rb") as f:
                    for program in f.read().decode(errors="replace").split():
                        ctx.checks.failures.append("the planted %s was loaded by %s"
                                                   % (name, program))


SCENARIOS = {
    "fresh-install": fresh_install,
    "rerun": rerun,
    "declined": declined,
    "no-key-disk": no_key_disk,
    "two-key-disks": two_key_disks,
    "bad-package": bad_package,
    "missing-package": missing_package,
    "stub-started": lambda ctx: missing_package(ctx, stub=True),
    "stamped-stub": stamped_stub,
    "failed-write": failed_write,
    "setup-yes": lambda ctx: setup_started(ctx, "yes"),
    "setup-no": lambda ctx: setup_started(ctx, "no"),
    "file-in-use": file_in_use,
    "special-names": special_names,
    "conformance": conformance,
    "monitor": monitor.monitor,
    "planted-dll": planted_dll,
}


def main(table=SCENARIOS):
    """Runs one scenario of `table` (or makes or removes the prefix template) as the command
    line says; shipping.py runs its own table through it."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--build")
    parser.add_argument("--source")
    parser.add_argument("--template")
    parser.add_argument("--wine")
    parser.add_argument("--wineserver")
    parser.add_argument("--arch", choices=["win32", "win64"], default="win64")
    parser.add_argument("--time-scale", type=float, default=1.0)
    parser.add_argument("--make-template", action="store_true")
    parser.add_argument("--remove-template", action="store_true")
    parser.add_argument("--scenario", choices=sorted(table))
    args = parser.parse_args()
    if args.list:
        print("\n".join(table))
        return 0
    wine.configure(args)

    # An outer time-out (the emulated machine's runner) stops a scenario with SIGTERM: leave
    # through the sandbox's clean-up, which ends the scenario's Wine processes and display.
    def stopped(signum, frame):
        raise wine.Failure("stopped from outside (signal %d), most likely a time-out" % signum)
    signal.signal(signal.SIGTERM, stopped)
    started = time.monotonic()
    try:
        if args.remove_template:
            wine.shutil.rmtree(args.template, ignore_errors=True)
            return 0
        if args.make_template:
            wine.make_template(args.template)
            print("Wine prefix template ready in %.1f s" % (time.monotonic() - started))
            return 0
        if not os.path.isdir(args.template):
            print("FAIL: no Wine prefix template in %s (run the wine-prefix test first)"
                  % args.template)
            return 1
        ctx = Context(args)
        table[args.scenario](ctx)
    except wine.Failure as failure:
        print("FAIL: %s: %s" % (args.scenario, failure))
        return 1
    for message in ctx.checks.failures:
        print("FAIL: " + message)
    print("%s: %s in %.1f s" % (args.scenario, "failed" if ctx.checks.failures else "passed",
                                time.monotonic() - started))
    return 1 if ctx.checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
