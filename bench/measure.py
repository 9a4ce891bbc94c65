"""The benchmark's measuring: every variant of each prepared package run as a fresh process, in
rounds, by run.py (report.py turns the results into tables and the chart).

Work folder layout, per shape S (as scripts/bench.sh leaves it):
  S/files/  S/package.bin  S/ZarpoUpdate (the program carrying S/package.bin)
  S/files.tar.gz (tar | gzip -9)  S/files.zip (zip -9)  S/files.7z (7z -mx=9)

Every variant is a fresh process (a pipeline of two for pigz), timed from the first spawn to
the last reap; its CPU time is the reaped children's user + system time and its peak memory
their largest ru_maxrss (wait4). The variants of a package are measured in rounds, each
variant once a round, the order rotated from round to round, after one warm-up round that is
not counted.

A spawned child's ru_maxrss starts from the measuring process's own peak (the child shares its
memory until it execs), so that process stays small: the chart's plotting library is loaded
only when the chart is drawn, after the measuring, and a program's peak at or below the
process's own stops the run.
"""

import json
import os
import platform
import re
import resource
import shutil
import statistics
import subprocess
import time

# Every variant of a package: key, label in the tables, label in the chart. The program's own
# runs, then the yardsticks (our tools), then what a user would do instead.
VARIANTS = [
    ("fresh", "fresh install", "fresh"),
    ("rerun", "rerun (up to date)", "rerun"),
    ("start", "start, no key disk", "start"),
    ("floor", "floor: read, inflate, CRC", "floor"),
    ("limit", "limit: floor + write files", "limit"),
    ("fair", "fair limit: limit + times, attributes", "fair limit"),
    ("write", "write from memory", "write"),
    ("tar", "tar -xzf (gzip -9)", "tar -xzf"),
    ("bsdtar", "bsdtar -xf (gzip -9)", "bsdtar -xf"),
    ("unzip", "unzip -q (zip -9)", "unzip -q"),
    ("pigz", "pigz -dc | tar -x", "pigz | tar"),
    ("7z", "7z x (7z -mx=9)", "7z x"),
    ("copy", "cp -a", "cp -a"),
]
KEYS = [key for key, _, _ in VARIANTS]
LABELS = {key: label for key, label, _ in VARIANTS}

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


def rotation(variants, round_index):
    """The order of one round: round i starts at variant i mod n and goes round."""
    start = round_index % len(variants)
    return variants[start:] + variants[:start]


def summary(samples):
    """Statistics of one variant's samples [(wall seconds, CPU seconds, peak KiB)]."""
    walls = [wall for wall, _, _ in samples]
    cpus = [cpu for _, cpu, _ in samples]
    return {"median": statistics.median(walls), "min": min(walls), "max": max(walls),
            "cpu": statistics.median(cpus), "rss_kib": max(rss for _, _, rss in samples),
            "walls": walls, "cpus": cpus}


class Shape:
    """The files of one prepared package."""

    def __init__(self, work, name):
        folder = os.path.join(work, name)
        self.name = name
        self.program = os.path.join(folder, "ZarpoUpdate")
        self.package = os.path.join(folder, "package.bin")
        self.files = os.path.join(folder, "files")
        self.tar_gz = os.path.join(folder, "files.tar.gz")
        self.zip = os.path.join(folder, "files.zip")
        self.seven = os.path.join(folder, "files.7z")


class Bench:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.disk = os.path.join(self.work, "disk")
        self.target = os.path.join(self.disk, "Zarpo")
        self.scratch = os.path.join(self.work, "scratch")
        self.answers = os.path.join(self.work, "answers")
        self.output = os.path.join(self.work, "output")
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
        self.no_disk = dict(self.env, ZARPO_DOSDEVICES=self.empty_table)
        self.seven_zip = shutil.which("7zz") or shutil.which("7z") or "7zz"

    def spawn(self, commands, env=None, stdin=None, stdout=None):
        """Runs a pipeline of argv lists to its end: (wall seconds, CPU seconds, peak resident
        KiB, [exit status of each]). Standard error goes to /dev/null, and so does the last
        command's output unless `stdout` names a file for it."""
        pipes = [os.pipe() for _ in commands[1:]]  # close-on-exec; dup2 clears that
        pids = []
        start = time.perf_counter()
        for i, argv in enumerate(commands):
            if i == 0:
                actions = [(os.POSIX_SPAWN_OPEN, 0, stdin or "/dev/null", os.O_RDONLY, 0)]
            else:
                actions = [(os.POSIX_SPAWN_DUP2, pipes[i - 1][0], 0)]
            if i == len(commands) - 1:
                actions.append((os.POSIX_SPAWN_OPEN, 1, stdout or "/dev/null",
                                os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644))
            else:
                actions.append((os.POSIX_SPAWN_DUP2, pipes[i][1], 1))
            actions.append((os.POSIX_SPAWN_OPEN, 2, "/dev/null", os.O_WRONLY, 0))
            path = shutil.which(argv[0]) if os.sep not in argv[0] else argv[0]
            pids.append(os.posix_spawn(path, argv, env or self.env, file_actions=actions))
        for read_end, write_end in pipes:
            os.close(read_end)
            os.close(write_end)
        cpu, peak, codes = 0.0, 0, []
        for pid in pids:
            _, status, usage = os.wait4(pid, 0)
            cpu += usage.ru_utime + usage.ru_stime
            peak = max(peak, usage.ru_maxrss)
            codes.append(os.waitstatus_to_exitcode(status))
        seconds = time.perf_counter() - start
        return seconds, cpu, peak, codes

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

    def same_files(self, folder, shape, what):
        """Stops unless `folder` holds the release's files with their sizes; answers its tree."""
        found = self.tree(folder)
        self.check({k: v[0] for k, v in found.items()} == self.sizes,
                   "%s: %s: the folder differs from the release" % (shape.name, what))
        return found

    def timed(self, what, commands, **kwargs):
        seconds, cpu, peak, codes = self.spawn(commands, **kwargs)
        self.check(all(code == 0 for code in codes), "%s exited %s" % (what, codes))
        return seconds, cpu, peak

    # One run of each variant: untimed preparation, the timed process, untimed checks.
    def run_fresh(self, shape):
        self.empty(self.target)
        sample = self.timed("fresh install", [[shape.program]], stdin=self.answers)
        self.same_files(self.target, shape, "fresh install")
        return sample

    def run_rerun(self, shape):
        before = self.same_files(self.target, shape, "before the rerun")
        sample = self.timed("rerun", [[shape.program]], stdin=self.answers)
        self.check(self.tree(self.target) == before,
                   "%s: the rerun changed the folder" % shape.name)
        return sample

    def run_start(self, shape):
        seconds, cpu, peak, codes = self.spawn([[shape.program]], env=self.no_disk,
                                               stdin=self.answers)
        self.check(codes[0] >= 0, "the start with no key disk died of signal %d" % -codes[0])
        return seconds, cpu, peak

    def run_floor(self, shape):
        return self.timed("bench-floor", [[self.args.floor, shape.package]])

    def run_limit(self, shape):
        self.empty(self.scratch)
        sample = self.timed("bench-limit", [[self.args.limit, shape.package, self.scratch]])
        self.same_files(self.scratch, shape, "bench-limit")
        return sample

    def run_fair(self, shape):
        self.empty(self.scratch)
        sample = self.timed("bench-limit --fair", [[self.args.limit, "--fair", shape.package,
                                                     self.scratch]])
        self.same_files(self.scratch, shape, "bench-limit --fair")
        return sample

    def run_write(self, shape):
        # The process reads the files into memory before it times its one repetition; its own
        # figures of that repetition are the sample.
        self.empty(self.scratch)
        _, _, peak = self.timed("bench-write-floor", [[self.args.write_floor, shape.files,
                                                       self.scratch, "1"]], stdout=self.output)
        with open(self.output) as f:
            measured = json.load(f)
        return measured["samples"][0], measured["cpu"][0], peak

    def run_peer(self, shape, what, commands):
        self.empty(self.scratch)
        sample = self.timed(what, commands)
        self.same_files(self.scratch, shape, what)
        return sample

    def run_tar(self, shape):
        return self.run_peer(shape, "tar", [["tar", "-xzf", shape.tar_gz, "-C", self.scratch]])

    def run_bsdtar(self, shape):
        return self.run_peer(shape, "bsdtar", [["bsdtar", "-xf", shape.tar_gz, "-C", self.scratch]])

    def run_unzip(self, shape):
        return self.run_peer(shape, "unzip", [["unzip", "-q", shape.zip, "-d", self.scratch]])

    def run_pigz(self, shape):
        return self.run_peer(shape, "pigz | tar", [["pigz", "-dc", shape.tar_gz],
                                                   ["tar", "-xf", "-", "-C", self.scratch]])

    def run_7z(self, shape):
        return self.run_peer(shape, "7z", [[self.seven_zip, "x", "-y", "-o" + self.scratch,
                                            shape.seven]])

    def run_copy(self, shape):
        if os.path.lexists(self.scratch):
            shutil.rmtree(self.scratch)
        sample = self.timed("cp -a", [["cp", "-a", shape.files, self.scratch]])
        self.same_files(self.scratch, shape, "cp -a")
        return sample

    def strace(self, program, label, env=None):
        log = os.path.join(self.work, label + ".strace")
        argv = ["strace", "-f", "-y", "-qq", "-o", log, program]
        _, _, _, codes = self.spawn([argv], env=env, stdin=self.answers)
        self.check(codes[0] == 0, "strace of %s failed" % label)
        with open(log, errors="replace") as f:
            result = parse_strace(f.read())
        os.remove(log)
        return result

    def measure(self, name, rounds, report=None):
        shape = Shape(self.work, name)
        source = self.tree(shape.files)
        self.sizes = {k: v[0] for k, v in source.items()}
        with open(shape.package, "rb") as f:
            header = f.read(12)
        r = {"shape": name, "entries": len(source), "rounds": rounds,
             "stored": int.from_bytes(header[0:4], "little"),
             "unpacked": int.from_bytes(header[4:8], "little"),
             "data_bytes": sum(self.sizes.values())}

        runs = {key: getattr(self, "run_" + key) for key in KEYS}
        for key in KEYS:  # the warm-up round, in the base order; it leaves the folder installed
            runs[key](shape)
        samples = {key: [] for key in KEYS}
        for i in range(rounds):
            for key in rotation(KEYS, i):
                samples[key].append(runs[key](shape))
            if report:
                report(name, i + 1, rounds)
        r["variants"] = {key: summary(samples[key]) for key in KEYS}
        own = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        for key in ("fresh", "rerun"):
            self.check(r["variants"][key]["rss_kib"] > own,
                       "%s: the %s's peak memory (%d KiB) is no more than the harness's own "
                       "(%d KiB), so it is not the program's" % (
                           name, key, r["variants"][key]["rss_kib"], own))
        r["harness_rss_kib"] = own

        # Platform calls, and what the rerun wrote, from traced runs (not timed).
        traced_start = self.strace(shape.program, name + "-start", env=self.no_disk)
        self.empty(self.target)
        traced_fresh = self.strace(shape.program, name + "-fresh")
        traced_rerun = self.strace(shape.program, name + "-rerun")
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
