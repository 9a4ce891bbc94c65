"""What every end-to-end scenario of the updater stands on, under Wine (tests/wine/scenarios.py)
and on the key disks of the emulated machine (tests/keydisk/guest.py): the updater's own words
and boxes, the collected checks, and the Context a scenario runs in (its build, its sandboxes,
the updater swapped to another package, one run with its boxes answered, the checks of boxes,
trace lines and installed files).
"""
import os

import pefile

import zarpo_format
from zarpolib import wine
from zarpolib.pe import resources

# What the updater says, as the user reads it; compared as code page 932 bytes.
CAPTION = "ザルポの更新"
NO_KEY_DISK = "更新すべきキーディスクが見つかりません。"
CONFIRM = "%s:のキーディスクを最新版に更新します。\nよろしいですか?"
FAILED = "更新に失敗しました。"
DONE = "キーディスクの更新を完了しました。\n続いてセットアップを実行しますか?"
IDOK, IDYES, IDNO = 1, 6, 7

DRIVE_REMOVABLE, DRIVE_FIXED = 2, 3
UPDATER_TIMEOUT = 90


def box(text, buttons, answer):
    return {"caption": CAPTION.encode("cp932"), "text": text.encode("cp932"),
            "buttons": buttons, "answer": answer}


def confirm_box(letter, answer):
    return box(CONFIRM % letter, [IDYES, IDNO], answer)


def done_box(answer):
    return box(DONE, [IDYES, IDNO], answer)


FAILED_BOX = box(FAILED, [IDOK], IDOK)
NO_KEY_DISK_BOX = box(NO_KEY_DISK, [IDOK], IDOK)


def wine_attributes(attributes):
    """What Wine reports for a file written with `attributes`: read-only comes from the mode,
    hidden and system from the user.DOSATTRIB extended attribute, and ARCHIVE is always set;
    other bits are not kept. Windows reports the written bits themselves."""
    return (attributes & 0x07) | 0x20


class Checks:
    """Collects every mismatch of a scenario instead of stopping at the first."""

    def __init__(self):
        self.failures = []

    def equal(self, actual, expected, what):
        if actual != expected:
            self.failures.append("%s:\n    got      %r\n    expected %r" % (what, actual, expected))

    def true(self, condition, what):
        if not condition:
            self.failures.append(what)


class Context:
    def __init__(self, args):
        self.build = args.build
        self.source = args.source
        self.template = args.template
        self.updater = os.path.join(args.build, "ZarpoUpdate.exe")
        self.stub = os.path.join(args.build, "ZarpoUpdate-stub.exe")
        with open(os.path.join(args.build, "package.bin"), "rb") as f:
            self.sample_package = f.read()
        self.sample = zarpo_format.read_package(self.sample_package)
        with open(self.tool("stand-in-setup"), "rb") as f:
            self.setup_program = f.read()
        self.checks = Checks()

    def tool(self, name):
        return wine.program(self.build, name)

    def sandbox(self, name):
        return wine.Sandbox(self.template, name, lambda: bool(self.checks.failures))

    # Setting the scene ---------------------------------------------------------------------

    def swapped_updater(self, sandbox, package):
        """A copy of the updater carrying `package` (None: no package), made by swap-package
        under Wine and read back, so a scenario never runs a program that is not what it
        thinks."""
        path = os.path.join(sandbox.root, "ZarpoUpdate-swapped.exe")
        argument = "--remove"
        if package is not None:
            argument = os.path.join(sandbox.root, "swapped-package.bin")
            with open(argument, "wb") as f:
                f.write(package)
            argument = wine.windows_path(argument)
        code, _ = sandbox.run("swap-package", self.tool("swap-package"),
                              wine.windows_path(self.updater), wine.windows_path(path),
                              argument)
        if code != 0:
            raise wine.Failure("swap-package failed with exit code %d" % code)
        key = ("ZIPFILE", "UPDATE", 1041)
        carried = resources(pefile.PE(path))
        original = resources(pefile.PE(self.updater))
        if carried.pop(key, None) != package:
            raise wine.Failure("the swapped program does not carry the package it was given")
        original.pop(key, None)
        if carried != original:
            raise wine.Failure("swap-package changed resources other than the package")
        return path

    def plant(self, folder, files):
        """Files of an earlier release: {relative Linux path: bytes}."""
        for name, data in files.items():
            path = os.path.join(folder, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, ns=(1_600_000_000 * 10**9, 1_600_000_000 * 10**9))

    # Running -------------------------------------------------------------------------------

    def begin(self, sandbox):
        """Display and monitor for a sandbox, started once, before its first Wine program that
        may need them; the drive types are checked on the way."""
        if sandbox.monitor is not None:
            return
        letters = sorted(sandbox.drives)
        if letters:
            _, out = sandbox.run("stat", self.tool("stat"), "--drive-type",
                                 *["%s:\\" % letter.upper() for letter in letters])
            wanted = [DRIVE_REMOVABLE if sandbox.drives[l] == "floppy" else DRIVE_FIXED
                      for l in letters]
            if [int(x) for x in out.split()] != wanted:
                raise wine.Failure("drive types %r, wanted %r for %s"
                                      % (out.split(), wanted, letters))
        sandbox.start_monitor(self.tool("DebugMonitor"))

    def update(self, sandbox, answers, boxes, updater=None):
        """One run of the updater with its boxes answered; returns its exit code."""
        self.begin(sandbox)
        driver = sandbox.start_driver(self.tool("dialog-driver"), boxes, answers,
                                      timeout=UPDATER_TIMEOUT)
        updater = sandbox.start("ZarpoUpdate", updater or self.updater)
        try:
            code, _, _ = updater.wait(UPDATER_TIMEOUT)
        except wine.Failure:
            boxes_seen = sandbox.boxes()
            raise wine.Failure("ZarpoUpdate did not end within %d s (boxes answered: %d of %d;"
                                  " an unexpected box or a hang)"
                                  % (wine.scaled(UPDATER_TIMEOUT), len(boxes_seen), boxes))
        driver_code, _, err = driver.wait(30)
        if driver_code != 0:
            raise wine.Failure("dialog driver failed (%d): %s"
                                  % (driver_code, err.decode(errors="replace").strip()))
        return code

    # Checking ------------------------------------------------------------------------------

    def check_boxes(self, sandbox, expected):
        seen = sandbox.boxes()
        self.checks.equal(len(seen), len(expected), "number of boxes")
        for i, (got, want) in enumerate(zip(seen, expected)):
            self.checks.equal(got["caption"], want["caption"], "caption of box %d" % (i + 1))
            self.checks.equal(got["text"], want["text"], "text of box %d" % (i + 1))
            self.checks.equal(sorted(b[0] for b in got["buttons"]), want["buttons"],
                              "buttons of box %d" % (i + 1))
            self.checks.true(all(b[1] for b in got["buttons"]), "a button of box %d has no text"
                             % (i + 1))
            self.checks.equal(got["answer"], want["answer"], "answer to box %d" % (i + 1))

    def check_trace(self, lines, expected):
        self.checks.equal(len(lines), len(expected), "number of trace lines")
        for i, (got, want) in enumerate(zip(lines, expected)):
            self.checks.equal(got, want, "trace line %d" % (i + 1))

    def check_installed(self, sandbox, folder, letter, entries):
        """Every entry is in `folder` (drive `letter`'s Zarpo) with its bytes, and Win32 reports
        its attributes, size and last-write time."""
        for entry in entries:
            path = entry.linux_path(folder)
            try:
                with open(path, "rb") as f:
                    self.checks.true(f.read() == entry.data, "wrong contents in " + path)
            except OSError as error:
                self.checks.failures.append("cannot read %s: %s" % (path, error))
        targets = ["%s:\\Zarpo\\%s" % (letter, e.name.decode("cp932")) for e in entries]
        _, out = sandbox.run("stat", self.tool("stat"), *targets)
        reported = out.decode("ascii").splitlines()
        self.checks.equal(len(reported), len(entries), "lines from stat.exe")
        for entry, target, line in zip(entries, targets, reported):
            want = "%08X %d %016X" % (wine_attributes(entry.attributes), len(entry.data),
                                      entry.last_write)
            self.checks.equal(line, want, "Win32 view of " + target)

    def check_absent(self, paths):
        for path in paths:
            self.checks.true(not os.path.lexists(path), "%s should not exist" % path)

    def check_exit(self, code):
        self.checks.equal(code, 0, "exit code of ZarpoUpdate")


def target(letter, entry):
    return ("%s:\\Zarpo\\" % letter).encode("cp932") + entry.name


def fresh_trace(letter, entries):
    lines = []
    for entry in entries:
        lines += [b"NotFound [" + target(letter, entry) + b"]",
                  b"[" + target(letter, entry) + b"] 1"]
    return lines
