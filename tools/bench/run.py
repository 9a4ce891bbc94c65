#!/usr/bin/env python3
"""Measures the updater against its floor and against what a user would do instead, for each
prepared package, and writes the results: JSON, the tables of docs/performance.md (between its
result markers) and the chart beside it. scripts/bench.sh prepares the work folder and runs this.

Work folder layout, per shape S (as bench.sh leaves it):
  S/files/  S/package.bin  S/files.tar.gz  S/ZarpoUpdate (the program carrying S/package.bin)

Every figure is the median of the repetitions; processes are timed from spawn to reap, and
their peak memory is the reaped child's ru_maxrss.
"""

import argparse
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import chart  # noqa: E402

BEGIN = "<!-- bench results begin -->"
END = "<!-- bench results end -->"

# write-like calls whose byte counts go to files, and calls that change a file without writing
# its data; a rerun on an up-to-date folder must make none of the second kind either.
WRITE_CALLS = {"write", "pwrite64", "writev", "pwritev", "pwritev2"}
CHANGE_CALLS = {"setxattr", "fsetxattr", "lsetxattr", "removexattr", "fremovexattr",
                "chmod", "fchmod", "fchmodat", "utimensat", "futimesat", "utimes", "unlink",
                "unlinkat", "mkdir", "mkdirat", "rename", "renameat", "renameat2", "truncate",
                "ftruncate", "rmdir"}
TRACE_LINE = re.compile(r"^(?:\d+\s+)?([a-z_0-9]+)\((.*)\)\s+=\s+(-?\d+|\?)")
FD_PATH = re.compile(r"^(\d+)<([^>]*)>")


def parse_strace(text):
    """Counts the calls of an `strace -f -y` log and what they did to files.

    Answers {"calls": {name: count}, "file_bytes": bytes written to file descriptors other than
    0 to 2 that name a path (not a pipe, socket or device), "changes": [lines of CHANGE_CALLS
    that succeeded, and opens that created or truncated]}."""
    calls = {}
    file_bytes = 0
    changes = []
    for line in text.splitlines():
        match = TRACE_LINE.match(line)
        if not match:
            continue
        name, arguments, result = match.groups()
        calls[name] = calls.get(name, 0) + 1
        ok = result != "?" and int(result) >= 0
        if name in WRITE_CALLS and ok:
            fd = FD_PATH.match(arguments)
            if fd and int(fd.group(1)) > 2 and fd.group(2).startswith("/") \
                    and not fd.group(2).startswith("/dev/"):
                file_bytes += int(result)
        elif name in CHANGE_CALLS and ok:
            changes.append(line)
        elif name in ("open", "openat", "creat") and ok and \
                ("O_CREAT" in arguments or "O_TRUNC" in arguments or name == "creat"):
            changes.append(line)
    return {"calls": calls, "file_bytes": file_bytes, "changes": changes}


def median(values):
    return statistics.median(values)


class Bench:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.disk = os.path.join(self.work, "disk")
        self.target = os.path.join(self.disk, "Zarpo")
        self.scratch = os.path.join(self.work, "scratch")
        self.answers = os.path.join(self.work, "answers")
        with open(self.answers, "w") as f:
            f.write("y\nn\n")
        # A drive table with the key disk as E:, and one with no drive at all.
        self.table = os.path.join(self.work, "dosdevices")
        self.empty_table = os.path.join(self.work, "no-drives")
        for folder in (self.table, self.empty_table):
            os.makedirs(folder, exist_ok=True)
        os.makedirs(self.disk, exist_ok=True)
        link = os.path.join(self.table, "e:")
        if not os.path.islink(link):
            os.symlink(self.disk, link)
        with open(os.path.join(self.table, "drive-types"), "w") as f:
            f.write("e: removable\n")
        # No monitor listens here: trace lines go nowhere, as on a user's machine.
        runtime = os.path.join(self.work, "run")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self.env = dict(os.environ, ZARPO_DOSDEVICES=self.table, XDG_RUNTIME_DIR=runtime,
                        LC_ALL="C.UTF-8")

    def spawn(self, argv, env=None, stdin=None):
        """Runs argv to its end: (seconds, peak resident KiB, exit status)."""
        actions = [(os.POSIX_SPAWN_OPEN, 0, stdin or "/dev/null", os.O_RDONLY, 0),
                   (os.POSIX_SPAWN_OPEN, 1, "/dev/null", os.O_WRONLY, 0),
                   (os.POSIX_SPAWN_OPEN, 2, "/dev/null", os.O_WRONLY, 0)]
        path = shutil.which(argv[0]) if os.sep not in argv[0] else argv[0]
        start = time.perf_counter()
        pid = os.posix_spawn(path, argv, env or self.env, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        seconds = time.perf_counter() - start
        return seconds, usage.ru_maxrss, os.waitstatus_to_exitcode(status)

    def empty(self, folder):
        if os.path.lexists(folder):
            shutil.rmtree(folder)
        os.makedirs(folder)

    def check(self, ok, what):
        if not ok:
            raise SystemExit("bench: " + what)

    def tree(self, folder):
        """{relative path: (size, mtime_ns, ctime_ns)} of every file below `folder`."""
        found = {}
        for parent, _, names in os.walk(folder):
            for name in names:
                path = os.path.join(parent, name)
                st = os.lstat(path)
                found[os.path.relpath(path, folder)] = (st.st_size, st.st_mtime_ns, st.st_ctime_ns)
        return found

    def strace(self, program, label, env=None):
        log = os.path.join(self.work, label + ".strace")
        argv = ["strace", "-f", "-y", "-qq", "-o", log, program]
        _, _, code = self.spawn(argv, env=env, stdin=self.answers)
        self.check(code == 0, "strace of %s failed" % label)
        with open(log, errors="replace") as f:
            result = parse_strace(f.read())
        os.remove(log)
        return result

    def measure(self, shape):
        folder = os.path.join(self.work, shape)
        program = os.path.join(folder, "ZarpoUpdate")
        package = os.path.join(folder, "package.bin")
        files = os.path.join(folder, "files")
        archive = os.path.join(folder, "files.tar.gz")
        reps = self.args.repetitions
        source = self.tree(files)
        entries = len(source)
        with open(package, "rb") as f:
            header = f.read(12)
        stored = int.from_bytes(header[0:4], "little")
        unpacked = int.from_bytes(header[4:8], "little")
        r = {"shape": shape, "entries": entries, "stored": stored, "unpacked": unpacked,
             "data_bytes": sum(size for size, _, _ in source.values())}

        out = subprocess.run([self.args.floor, package, str(reps)], check=True,
                             capture_output=True, text=True).stdout
        r["floor"] = json.loads(out)["median"]
        out = subprocess.run([self.args.write_floor, files, self.scratch, str(reps)], check=True,
                             capture_output=True, text=True).stdout
        r["write"] = json.loads(out)["median"]

        no_disk = dict(self.env, ZARPO_DOSDEVICES=self.empty_table)
        start = [self.spawn([program], env=no_disk, stdin=self.answers) for _ in range(reps)]
        r["start"] = median(s for s, _, _ in start)
        r["start_rss_kib"] = max(m for _, m, _ in start)

        fresh, rerun = [], []
        for _ in range(reps):
            self.empty(self.target)
            fresh.append(self.spawn([program], stdin=self.answers))
            self.check(fresh[-1][2] == 0, "%s: fresh install exited %d" % (shape, fresh[-1][2]))
            installed = self.tree(self.target)
            self.check({k: v[0] for k, v in installed.items()} ==
                       {k: v[0] for k, v in source.items()},
                       "%s: the installed folder differs from the release" % shape)
            rerun.append(self.spawn([program], stdin=self.answers))
            after = self.tree(self.target)
            self.check(after == installed, "%s: the rerun changed the folder" % shape)
        r["fresh"] = median(s for s, _, _ in fresh)
        r["rerun"] = median(s for s, _, _ in rerun)
        r["fresh_rss_kib"] = max(m for _, m, _ in fresh)
        r["rerun_rss_kib"] = max(m for _, m, _ in rerun)

        untar, copy = [], []
        for _ in range(reps):
            self.empty(self.scratch)
            untar.append(self.spawn(["tar", "-xzf", archive, "-C", self.scratch]))
            self.check(untar[-1][2] == 0, "tar failed")
            shutil.rmtree(self.scratch)
            copy.append(self.spawn(["cp", "-a", files, self.scratch]))
            self.check(copy[-1][2] == 0, "cp failed")
        r["tar"] = median(s for s, _, _ in untar)
        r["copy"] = median(s for s, _, _ in copy)

        # Platform calls, and what the rerun wrote, from traced runs (not timed).
        traced_start = self.strace(program, shape + "-start", env=no_disk)
        self.empty(self.target)
        traced_fresh = self.strace(program, shape + "-fresh")
        traced_rerun = self.strace(program, shape + "-rerun")
        r["calls_start"] = sum(traced_start["calls"].values())
        r["calls_fresh"] = sum(traced_fresh["calls"].values())
        r["calls_rerun"] = sum(traced_rerun["calls"].values())
        r["top_fresh"] = sorted(traced_fresh["calls"].items(), key=lambda kv: -kv[1])[:8]
        r["top_rerun"] = sorted(traced_rerun["calls"].items(), key=lambda kv: -kv[1])[:8]
        r["rerun_file_bytes"] = traced_rerun["file_bytes"]
        r["rerun_changes"] = len(traced_rerun["changes"])
        r["fresh_file_bytes"] = traced_fresh["file_bytes"]
        shutil.rmtree(self.scratch, ignore_errors=True)
        return r


def goals(r, reference=False):
    """[(goal, unit, measured, limit)] for one package, times in seconds; a goal is met when
    measured <= limit. The fresh install is judged against writing from memory (e2); with
    `reference`, the same goal against cp -a (e) comes second, shown but not judged."""
    mib = 1024 * 1024
    memory_limit = (r["unpacked"] + r["stored"] + 4 * mib) // 1024
    peak = max(r["fresh_rss_kib"], r["rerun_rss_kib"])
    written = r["rerun_file_bytes"]
    judged = [
        ("(b) <= 1.10 x ((a) + (e2))", "ms", r["fresh"], 1.10 * (r["floor"] + r["write"])),
        ("(b) <= (d)", "ms", r["fresh"], r["tar"]),
        ("(c) <= 1.05 x (a) + start", "ms", r["rerun"], 1.05 * r["floor"] + r["start"]),
        ("rerun writes no file data", "bytes", written, 0),
        ("rerun changes no file (calls)", "calls", r["rerun_changes"], 0),
        ("peak memory <= unpacked + stored + 4 MiB", "KiB", peak, memory_limit),
    ]
    if reference:
        judged.insert(1, ("(b) <= 1.10 x ((a) + (e)), for reference", "ms", r["fresh"],
                          1.10 * (r["floor"] + r["copy"])))
    return judged


def ms(seconds):
    return "%.1f" % (seconds * 1000)


def tables(results, machine, command):
    lines = []
    lines.append("Measured %s on %s; %d repetitions each, medians." %
                 (machine["date"], machine["summary"], results[0]["repetitions"]))
    lines.append("Regenerate with `%s`." % command)
    lines.append("")
    lines.append("### Time per phase (ms)")
    lines.append("")
    lines.append("| package | entries | unpacked | stored | (a) floor | (b) fresh | (c) rerun "
                 "| (d) tar -xzf | (e) cp -a | (e2) write | start |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in results:
        lines.append("| %s | %d | %d | %d | %s | %s | %s | %s | %s | %s | %s |" % (
            r["shape"], r["entries"], r["unpacked"], r["stored"], ms(r["floor"]),
            ms(r["fresh"]), ms(r["rerun"]), ms(r["tar"]), ms(r["copy"]), ms(r["write"]),
            ms(r["start"])))
    lines.append("")
    lines.append("### Goals")
    lines.append("")
    lines.append("| package | goal | measured | limit | |")
    lines.append("|---|---|---:|---:|---|")
    for r in results:
        for name, unit, measured, limit in goals(r, reference=True):
            shown = (lambda v: ms(v) + " ms") if unit == "ms" else (lambda v: "%d %s" % (v, unit))
            verdict = "met" if measured <= limit else "**missed**"
            if name.endswith("for reference"):
                verdict = "(%s)" % ("under" if measured <= limit else "over")
            lines.append("| %s | %s | %s | %s | %s |" % (
                r["shape"], name, shown(measured), shown(limit), verdict))
    lines.append("")
    lines.append("Ratios: fresh / (floor + write from memory), fresh / (floor + copy), fresh / tar, "
                 "(rerun - start) / floor.")
    lines.append("")
    lines.append("| package | fresh/(floor+write) | fresh/(floor+cp) | fresh/tar "
                 "| (rerun-start)/floor | peak KiB fresh | peak KiB rerun |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|")
    for r in results:
        lines.append("| %s | %.2f | %.2f | %.2f | %.2f | %d | %d |" % (
            r["shape"], r["fresh"] / (r["floor"] + r["write"]),
            r["fresh"] / (r["floor"] + r["copy"]), r["fresh"] / r["tar"],
            (r["rerun"] - r["start"]) / r["floor"], r["fresh_rss_kib"], r["rerun_rss_kib"]))
    lines.append("")
    lines.append("### How cost grows")
    lines.append("")
    lines.append("| package | fresh ms/MB | fresh ms/entry | rerun ms/MB | rerun ms/entry "
                 "| calls/entry fresh | calls/entry rerun | rerun bytes written |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|---:|")
    for r in results:
        mb = r["unpacked"] / 1e6
        net = lambda key: (r[key] - r["calls_start"]) / r["entries"]  # noqa: E731
        lines.append("| %s | %.2f | %.3f | %.2f | %.3f | %.1f | %.1f | %d |" % (
            r["shape"], r["fresh"] * 1000 / mb, r["fresh"] * 1000 / r["entries"],
            r["rerun"] * 1000 / mb, r["rerun"] * 1000 / r["entries"], net("calls_fresh"),
            net("calls_rerun"), r["rerun_file_bytes"]))
    lines.append("")
    lines.append("Calls per entry: system calls of a traced run (`strace -f`) less those of the "
                 "run with no key disk (%s calls), divided by the entries. Most frequent calls "
                 "of the largest-count package:" % ", ".join(
                     "%s %d" % (r["shape"], r["calls_start"]) for r in results[:1]))
    lines.append("")
    many = max(results, key=lambda r: r["entries"])
    lines.append("- fresh install (%s): %s" % (many["shape"], ", ".join(
        "%s %d" % kv for kv in many["top_fresh"])))
    lines.append("- rerun (%s): %s" % (many["shape"], ", ".join(
        "%s %d" % kv for kv in many["top_rerun"])))
    return "\n".join(lines)


def machine_summary(work):
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    fs = subprocess.run(["stat", "-f", "-c", "%T", work], capture_output=True,
                        text=True).stdout.strip()
    load = os.getloadavg()[0]
    return {"date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
            "summary": "%s, %d cores, Linux %s, %s (%s), load average %.2f at the start" % (
                cpu, os.cpu_count(), platform.release(), fs, work, load)}


def write_doc(doc, text):
    with open(doc, encoding="utf-8") as f:
        current = f.read()
    begin = current.index(BEGIN) + len(BEGIN)
    end = current.index(END)
    with open(doc, "w", encoding="utf-8") as f:
        f.write(current[:begin] + "\n" + text + "\n" + current[end:])


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--work", required=True)
    parser.add_argument("--floor", required=True, help="the bench-floor program")
    parser.add_argument("--write-floor", required=True, help="the bench-write-floor program")
    parser.add_argument("--shapes", nargs="+", required=True)
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--json", required=True)
    parser.add_argument("--doc", help="markdown file whose result section is replaced")
    parser.add_argument("--chart", help="PNG chart to write")
    parser.add_argument("--command", default="bash scripts/bench.sh")
    args = parser.parse_args(argv)
    bench = Bench(args)
    machine = machine_summary(bench.work)
    results = []
    for shape in args.shapes:
        began = time.perf_counter()
        r = bench.measure(shape)
        r["repetitions"] = args.repetitions
        results.append(r)
        print("%-6s floor %s  fresh %s  rerun %s  tar %s  cp %s  write %s  start %s ms  (%.0f s)" % (
            shape, ms(r["floor"]), ms(r["fresh"]), ms(r["rerun"]), ms(r["tar"]), ms(r["copy"]),
            ms(r["write"]), ms(r["start"]), time.perf_counter() - began), flush=True)
    with open(args.json, "w") as f:
        json.dump({"machine": machine, "results": results}, f, indent=1)
    text = tables(results, machine, args.command)
    print(text)
    if args.doc:
        write_doc(args.doc, text)
    if args.chart:
        chart.write_chart(args.chart, results)
    missed = [(r["shape"], g[0]) for r in results for g in goals(r) if g[2] > g[3]]
    for shape, goal in missed:
        print("missed: %s: %s" % (shape, goal))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
