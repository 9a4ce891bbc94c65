"""The DebugMonitor window under Wine, worked as the updater and a support person would.

The scenario `monitor` (run through scenarios.py) sends trace lines the way the updater does
and checks each feature of the window without looking at it: a failed /append says so in a box,
copy puts the lines on the clipboard and save writes them to a file byte for byte, a long line
can be scrolled to, the view stays where the user scrolled it, clear and time stamps.

    monitor.py --build DIR --picture FILE.png

takes a picture of the monitor showing Japanese trace lines (Xvfb, xwd) for the documentation.
Standard library and the shared zarpolib (tests/lib) only.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import zlib

from zarpolib import wine as winerun

# Lines as the updater sends them, code page 932: trail bytes 0x5C (表 = 95 5C, 構 = 8D 5C),
# and a path too long for the window.
LINES = [
    "NotFound [E:\\Zarpo\\表計算\\構成.txt]",
    "[E:\\Zarpo\\表計算\\構成.txt] 1",
    "Different [E:\\Zarpo\\ヘルプ\\索引\\目次.dat] -12, 0, 1",
    "[E:\\Zarpo\\" + "長いフォルダ名\\" * 24 + "最後.txt] 1",
]
STAMPED = re.compile(rb"\A[0-2]\d:[0-5]\d:[0-6]\d\.\d{3} stamped\r\n\Z")


def encoded(lines):
    return [line.encode("cp932") for line in lines]


def as_text(lines):
    """What copy and save give: every line ended by CRLF."""
    return b"".join(line + b"\r\n" for line in lines)


class Driver:
    """Runs monitor-driver steps in a sandbox."""

    def __init__(self, sandbox, exe):
        self.sandbox, self.exe = sandbox, exe

    def file(self, name):
        return os.path.join(self.sandbox.root, name)

    def send(self, lines):
        path = self.file("lines-to-send.txt")
        with open(path, "wb") as f:
            f.write(b"".join(line + b"\n" for line in lines))
        self.run("--send", winerun.windows_path(path))

    def run(self, *steps):
        code, out = self.sandbox.run("monitor-driver", self.exe, *steps)
        if code != 0:
            raise winerun.Failure("monitor-driver %s failed (%d)" % (" ".join(steps), code))
        return out.decode("ascii")

    def read(self, name):
        with open(self.file(name), "rb") as f:
            return f.read()

    def copied(self, *steps):
        """The clipboard's bytes after the steps that copy."""
        clip = winerun.windows_path(self.file("clip"))
        self.run("--empty-clipboard", *steps, "--clipboard", clip)
        return self.read("clip")

    def state(self):
        count, top, visible, extent, width = map(int, self.run("--state").split())
        return {"count": count, "top": top, "visible": visible, "extent": extent, "width": width}


def failed_append(ctx, sandbox):
    """/append into a folder that does not exist: a box names the file, the monitor ends with 1."""
    target = winerun.windows_path(os.path.join(sandbox.root, "no such folder", "trace.txt"))
    # These are the sandbox's first Wine programs: the box comes once Wine has brought up its
    # desktop and services, which takes some 10 s under load. The driver's bound runs from its
    # own start, so it gets the usual one, and the monitor, which cannot end before its box is
    # answered, a longer one.
    driver = sandbox.start_driver(ctx.tool("dialog-driver"), 1)
    monitor = sandbox.start("DebugMonitor", ctx.tool("DebugMonitor"), "/append", target)
    code, _, _ = monitor.wait(90)
    ctx.checks.equal(code, 1, "exit code of DebugMonitor after a failed /append")
    driver_code, _, _ = driver.wait(30)
    ctx.checks.equal(driver_code, 0, "exit code of the dialog driver (one box expected)")
    boxes = sandbox.boxes()
    ctx.checks.equal([b["caption"] for b in boxes], [b"DebugMonitor"], "caption of the box")
    wanted = b"The trace lines cannot be appended to " + target.encode("cp932") + b"."
    ctx.checks.true(boxes and boxes[0]["text"].startswith(wanted),
                    "the box should say %r: %r" % (wanted, boxes[0]["text"] if boxes else None))
    os.remove(sandbox.boxes_path)


def monitor(ctx):
    with ctx.sandbox("monitor") as sandbox:
        failed_append(ctx, sandbox)
        sandbox.start_monitor(ctx.tool("DebugMonitor"))
        drive = Driver(sandbox, ctx.tool("monitor-driver"))
        lines = encoded(LINES)
        drive.send(lines)
        ctx.checks.equal(sandbox.trace_lines(), lines, "lines appended to the /append file")

        saved = winerun.windows_path(drive.file("saved.txt"))
        ctx.checks.equal(drive.copied("--keys", "a,c"), as_text(lines),
                         "clipboard after Ctrl+A, Ctrl+C")
        drive.run("--keys", "s", "--save-as", saved)
        # The monitor writes the file after its dialog has gone, which is all the driver waits
        # for: the file is read once it has its full length (the monitor writes it at once).
        size = len(as_text(lines))
        winerun.wait_for(lambda: os.path.exists(drive.file("saved.txt"))
                         and os.path.getsize(drive.file("saved.txt")) >= size, 30,
                         "the monitor to write saved.txt")
        ctx.checks.equal(drive.read("saved.txt"), as_text(lines), "file saved after Ctrl+S")

        state = drive.state()
        ctx.checks.true(state["extent"] > state["width"],
                        "the longest line should be reachable by horizontal scrolling: %r" % state)

        # Enough lines to scroll; where the user scrolls to, the view stays or follows.
        filler = [b"line %d" % i for i in range(60)]
        drive.send(filler)
        for where, more in (("top", 5), ("bottom", 5)):
            drive.run("--scroll", where)
            before = drive.state()
            drive.send([b"%s %d" % (where.encode(), i) for i in range(more)])
            after = drive.state()
            ctx.checks.equal(after["count"], before["count"] + more, "lines after " + where)
            if where == "top":
                ctx.checks.equal(after["top"], 0, "first line in view, scrolled to the top")
            else:
                ctx.checks.equal(after["top"] + after["visible"], after["count"],
                                 "view scrolled to the bottom follows new lines: %r" % after)

        drive.run("--command", "clear")
        state = drive.state()
        ctx.checks.equal((state["count"], state["extent"]), (0, 0), "lines and extent after clear")
        drive.run("--command", "timestamps")
        drive.send([b"stamped"])
        stamped = drive.copied("--command", "copy")
        ctx.checks.true(STAMPED.match(stamped), "a time-stamped line copied: %r" % stamped)
        ctx.checks.equal(sandbox.trace_lines()[-1:], [b"stamped"],
                         "the /append file keeps the line without its time stamp")


# The picture -------------------------------------------------------------------------------

def xwd_to_png(xwd, crop, path):
    """Writes the area `crop` (left, top, right, bottom) of an xwd screen dump as a PNG."""
    fields = struct.unpack(">25I", xwd[:100])
    header_size, depth_format = fields[0], fields[2]
    width, height = fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks, ncolors = fields[14:17], fields[19]
    if depth_format != 2 or bits_per_pixel not in (24, 32):
        raise winerun.Failure("unexpected xwd image (format %d, %d bits)"
                              % (depth_format, bits_per_pixel))
    pixels = xwd[header_size + 12 * ncolors:]
    shifts = [(mask & -mask).bit_length() - 1 for mask in masks]
    left, top = max(crop[0], 0), max(crop[1], 0)
    right, bottom = min(crop[2], width), min(crop[3], height)
    size = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"
    rows = []
    for y in range(top, bottom):
        row = bytearray(b"\0")
        for x in range(left, right):
            start = y * bytes_per_line + size * x
            value = int.from_bytes(pixels[start:start + size], order)
            row += bytes((value & mask) >> shift for mask, shift in zip(masks, shifts))
        rows.append(bytes(row))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n"
                + chunk(b"IHDR", struct.pack(">IIBBBBB", right - left, bottom - top, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def picture(build, path):
    work = tempfile.mkdtemp(prefix="monitor-picture-")
    try:
        template = os.path.join(work, "template")
        winerun.make_template(template)
        take_picture(build, template, path)
    finally:
        winerun.shutil.rmtree(work, ignore_errors=True)


def take_picture(build, template, path):
    with winerun.Sandbox(template, "picture") as sandbox:
        # No window manager runs on the display: Wine draws the title bar itself.
        with open(os.path.join(sandbox.prefix, "user.reg"), "a", encoding="ascii") as reg:
            reg.write('\n[Software\\\\Wine\\\\X11 Driver] 1700000000\n"Managed"="N"\n')
        sandbox.start_monitor(winerun.program(build, "DebugMonitor"))
        drive = Driver(sandbox, winerun.program(build, "monitor-driver"))
        drive.run("--command", "timestamps")
        drive.send(encoded(["E:のキーディスクを更新します"] + LINES))
        left, top, right, bottom = map(int, drive.run("--rect").split())
        dump = subprocess.run(["xwd", "-root", "-silent", "-display", sandbox.display],
                              check=True, stdout=subprocess.PIPE, timeout=30).stdout
        xwd_to_png(dump, (left, top, right, bottom), path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--picture", required=True)
    args = parser.parse_args()
    picture(os.path.abspath(args.build), os.path.abspath(args.picture))
    return 0


if __name__ == "__main__":
    sys.exit(main())
