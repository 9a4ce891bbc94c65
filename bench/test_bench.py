"""Tests of the benchmark's own scripts: the synthetic releases have the promised shape, the
strace reading counts what it should, the rounds rotate, the statistics and the goals come out
right, the chart is a PNG that matplotlib drew, and the yardsticks read a package as the
program does (BENCH_FLOOR and BENCH_LIMIT name them; the tests of them are skipped without)."""

import json
import os
import struct
import subprocess
import tempfile
import unittest
import zlib

import chart
import make_release
import measure
import report
import zarpo_format


def unpacked_length(entries):
    return sum(make_release.ENTRY_HEADER + len(name.encode("cp932")) + size
               for _, name, _, size, _ in entries)


class ReleaseShapeTest(unittest.TestCase):
    def test_shapes(self):
        sample = make_release.sample_entries()
        cases = [  # shape, entries, unpacked length, largest entry (None: all small)
            ("1x", 67, 33243206, 9885184),
            ("2x", 67, 2 * 33243206, 2 * 9885184),
            ("4x", 67, 4 * 33243206, 4 * 9885184),
            ("10000", 10000, 33243206, None),
        ]
        for shape, count, length, largest in cases:
            with self.subTest(shape=shape):
                entries = make_release.release_entries(shape)
                self.assertEqual(len(entries), count)
                self.assertEqual(unpacked_length(entries), length)
                sizes = [size for _, _, _, size, _ in entries]
                self.assertTrue(all(size > 0 for size in sizes))
                if largest is not None:
                    self.assertEqual(max(sizes), largest)
                    # Names, attributes and times as in the sample release, in its order.
                    self.assertEqual([e[:3] for e in entries], sample)
                else:
                    self.assertLess(max(sizes), 16384)
                    names = [name for _, name, _, _, _ in entries]
                    self.assertEqual(len(set(names)), len(names))
                    self.assertTrue(all(len(n.encode("cp932")) <= 250 for n in names))

    def test_contents_are_deterministic_and_pack_about_four_to_one(self):
        for kind in ("program", "drawing"):
            with self.subTest(kind=kind):
                data = make_release.contents(kind, 7, 1 << 20)
                self.assertEqual(len(data), 1 << 20)
                self.assertEqual(data, make_release.contents(kind, 7, 1 << 20))
                self.assertNotEqual(data, make_release.contents(kind, 8, 1 << 20))
                ratio = len(data) / len(zlib.compress(data, 9))
                self.assertGreater(ratio, 3.3)
                self.assertLess(ratio, 4.8)

    def test_written_release_matches_its_manifest(self):
        with tempfile.TemporaryDirectory() as out:
            count, length = make_release.write_release("1x", out)
            self.assertEqual((count, length), (67, 33243206))
            with open(os.path.join(out, "release.manifest"), encoding="utf-8") as f:
                lines = [l.split() for l in f if l.strip() and not l.startswith("#")]
            self.assertEqual(len(lines), 67)
            total = 0
            for attributes, name, _ in lines:
                path = os.path.join(out, "files", *name.split("\\"))
                total += make_release.ENTRY_HEADER + len(name.encode("cp932"))
                total += os.path.getsize(path)
            self.assertEqual(total, 33243206)


class StraceTest(unittest.TestCase):
    def test_counts_and_file_writes(self):
        log = "\n".join([
            '101 openat(AT_FDCWD, "/k/Zarpo/a.dll", O_WRONLY|O_CREAT|O_EXCL, 0444)'
            ' = 3</k/Zarpo/a.dll>',
            '101 write(3</k/Zarpo/a.dll>, "MZ"..., 4096) = 4096',
            '101 write(1</dev/pts/0>, "y\\n", 2) = 2',
            '101 write(4<socket:[1234]>, "\\4\\0\\0\\0", 4) = 4',
            '101 write(5<pipe:[77]>, "x", 1) = 1',
            '101 write(6</dev/null>, "x", 1) = 1',
            '101 pwrite64(3</k/Zarpo/a.dll>, "ab", 2, 0) = 2',
            '101 write(3</k/Zarpo/a.dll>, "ab", 2) = -1 ENOSPC (No space left on device)',
            '101 fsetxattr(3</k/Zarpo/a.dll>, "user.DOSATTRIB", "0x27", 4, 0) = 0',
            '101 setxattr("/k/Zarpo/b.dll", "user.DOSATTRIB", "0x20", 4, 0)'
            ' = -1 ENOENT (No such file)',
            '101 newfstatat(AT_FDCWD, "/k/Zarpo/a.dll", {st_mode=S_IFREG|0444, ...}, 0) = 0',
            'openat(AT_FDCWD, "/k/Zarpo/c.dll", O_RDONLY|O_CLOEXEC|O_PATH) = 4</k/Zarpo/c.dll>',
            '101 +++ exited with 0 +++',
            '101 exit_group(0)                     = ?',
        ])
        parsed = measure.parse_strace(log)
        self.assertEqual(parsed["file_bytes"], 4096 + 2)
        self.assertEqual(parsed["calls"]["write"], 6)
        self.assertEqual(parsed["calls"]["openat"], 2)
        self.assertEqual(parsed["calls"]["exit_group"], 1)
        # The creating open and the successful fsetxattr; not the failed setxattr or the read.
        self.assertEqual(len(parsed["changes"]), 2)



def record(shape="1x", **medians):
    """A result of run.py whose variants have the given median seconds (others 0.1 s)."""
    variants = {}
    for key in measure.KEYS:
        m = medians.get(key, 0.1)
        variants[key] = {"median": m, "min": m * 0.9, "max": m * 1.2, "cpu": m * 0.8,
                         "rss_kib": 15000}
    return {"shape": shape, "entries": 67, "unpacked": 10 << 20, "stored": 2 << 20,
            "rounds": 7, "variants": variants, "rerun_file_bytes": 0, "rerun_changes": 0,
            "calls_start": 100, "calls_fresh": 1440, "calls_rerun": 435,
            "top_fresh": [("openat", 9)], "top_rerun": [("openat", 3)]}


class RoundsTest(unittest.TestCase):
    def test_each_round_has_every_variant_once_and_starts_one_further(self):
        n = len(measure.KEYS)
        orders = [measure.rotation(measure.KEYS, i) for i in range(n + 2)]
        for i, order in enumerate(orders):
            self.assertEqual(sorted(order), sorted(measure.KEYS))
            self.assertEqual(order[0], measure.KEYS[i % n])
        # Over n rounds every variant takes every place once.
        for place in range(n):
            self.assertEqual(sorted(order[place] for order in orders[:n]), sorted(measure.KEYS))

    def test_summary(self):
        cases = [  # samples (wall, cpu, KiB), median, min, max, median cpu, peak
            ([(0.3, 0.2, 100), (0.1, 0.05, 300), (0.2, 0.1, 200)], 0.2, 0.1, 0.3, 0.1, 300),
            ([(0.4, 0.3, 10), (0.1, 0.1, 10), (0.2, 0.2, 30), (0.3, 0.4, 20)],
             0.25, 0.1, 0.4, 0.25, 30),
            ([(0.5, 0.6, 7)], 0.5, 0.5, 0.5, 0.6, 7),
        ]
        for samples, median, low, high, cpu, peak in cases:
            with self.subTest(samples=samples):
                s = measure.summary(samples)
                self.assertAlmostEqual(s["median"], median)
                self.assertEqual((s["min"], s["max"], s["rss_kib"]), (low, high, peak))
                self.assertAlmostEqual(s["cpu"], cpu)
                self.assertEqual(s["walls"], [w for w, _, _ in samples])


class GoalsTest(unittest.TestCase):
    def test_each_goal_judged_on_the_medians(self):
        memory = ((10 << 20) + (2 << 20) + (4 << 20)) // 1024
        base = dict(fresh=0.3, rerun=0.25, floor=0.2, limit=0.1, fair=0.2, tar=0.3)
        cases = [  # change, which of the six goals are met
            ({}, [True] * 6),  # at each limit exactly
            ({"rerun": 0.2501}, [False, True, True, True, True, True]),
            ({"fair": 0.19}, [True, False, True, True, True, True]),
            ({"limit": 0.3}, [True] * 6),  # the fresh goal is judged on the fair limit
            ({"tar": 0.29}, [True, True, False, True, True, True]),
            ({"rerun_file_bytes": 1, "rerun_changes": 2}, [True, True, True, False, False, True]),
            ({"rss": memory + 1}, [True] * 5 + [False]),
        ]
        for change, met in cases:
            with self.subTest(change=change):
                r = record(**{k: v for k, v in dict(base, **change).items() if k in measure.KEYS})
                r["rerun_file_bytes"] = change.get("rerun_file_bytes", 0)
                r["rerun_changes"] = change.get("rerun_changes", 0)
                r["variants"]["rerun"]["rss_kib"] = change.get("rss", memory)
                self.assertEqual([m <= lim for _, _, m, lim in report.goals(r)], met)
                self.assertEqual(len(report.missed([r])), met.count(False))

    def test_tables_show_spread_cpu_and_verdicts(self):
        r = record(fresh=1.0, rerun=0.3, floor=0.2, limit=0.4, fair=0.5, tar=0.8)
        text = report.tables([r, record("10000")], {"date": "d", "summary": "s"}, "bash b.sh")
        self.assertIn("| variant | 1x | 10000 |", text)
        self.assertIn("| fresh install | 1000.0 (900.0–1200.0) | 100.0 (90.0–120.0) |", text)
        self.assertIn("| fresh install | 800.0 | 80.0 |", text)  # the CPU table
        self.assertIn("| pigz -dc \\| tar -x | 100.0 (90.0–120.0) |", text)
        self.assertIn("| 1x | rerun <= 1.25 x floor | 300.0 ms | 250.0 ms | **missed** |", text)
        self.assertIn("| 1x | fresh <= 1.5 x fair limit | 1000.0 ms | 750.0 ms | **missed** |",
                      text)
        self.assertIn("| fair limit: limit + times, attributes | 500.0 (450.0–600.0) |", text)
        self.assertIn("| 1x | 1.50 | 2.50 | 2.00 | 1.25 | 15000 | 15000 |", text)
        self.assertIn("| 20.0 | 5.0 | 0 |", text)  # (1440 - 100) / 67 and (435 - 100) / 67
        wine = {"package": "10000", "entries": 10000, "rounds": 3, "variants": {
            k: {"median": m, "min": m, "max": m} for k, m in (("fresh", 2), ("rerun", 1),
                                                              ("start", 0.5))}}
        text = report.tables([r, record("10000")], {"date": "d", "summary": "s"}, "b", wine)
        self.assertIn("| fresh install | 2000.0 (2000.0–2000.0) | 100.0 |", text)
        self.assertIn("| start of a console program (stat.exe) | 500.0 (500.0–500.0) | – |", text)


@unittest.skipUnless(chart.available(), "matplotlib draws the chart")
class ChartTest(unittest.TestCase):
    def test_matplotlib_writes_a_png(self):
        results = [record("1x", fresh=0.26, start=0.004), record("10000", fresh=1.1)]
        variants = [(key, short) for key, _, short in measure.VARIANTS]
        with tempfile.TemporaryDirectory() as out:
            path = os.path.join(out, "c.png")
            chart.write_chart(path, results, variants)
            with open(path, "rb") as f:
                data = f.read()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        width, height = struct.unpack(">II", data[16:24])
        self.assertGreaterEqual((width, height), (1000, 300))
        self.assertIn(b"Matplotlib", data[:200])
        self.assertGreater(len(data), 20000)  # text, bars and whiskers, not an empty canvas


def body(entries):
    """The unpacked data of (code page 932 name, data) entries, as zarpo-pack lays it out."""
    return b"".join(zarpo_format.ENTRY_HEADER.pack(len(data), 0x20, 0, len(name)) + name + data
                    for name, data in entries)


def package(unpacked, crc_offset=0, extra_length=0):
    stream = zlib.compress(unpacked, 9)
    header = zarpo_format.PACKAGE_HEADER
    return header.pack(header.size + len(stream) + extra_length, len(unpacked),
                       (zlib.crc32(unpacked) + crc_offset) & 0xFFFFFFFF) + stream


@unittest.skipUnless(os.environ.get("BENCH_LIMIT") and os.environ.get("BENCH_FLOOR"),
                     "BENCH_FLOOR and BENCH_LIMIT name the built yardsticks")
class YardstickTest(unittest.TestCase):
    def test_floor_and_limit_read_a_package(self):
        # The second byte of 表 (0x95 0x5C) is a backslash: names split after converting.
        entries = [("Zarpo.exe", b"MZ" * 5000), ("Sample\\表紙図面\\表紙01.dwg", b"LINE 1 2\r\n"),
                   ("Sample\\表紙図面\\空.dwg", b"")]
        good = body([(n.encode("cp932"), d) for n, d in entries])
        cases = [  # package, floor succeeds, limit succeeds
            ("good", package(good), True, True),
            ("wrong CRC", package(good, crc_offset=1), False, False),
            ("stored length past the end", package(good, extra_length=1), False, False),
            # The floor does not walk the entries; the limit must refuse these.
            ("name past the end",
             package(good + zarpo_format.ENTRY_HEADER.pack(0, 0, 0, 40) + b"x" * 10), True, False),
            ("header past the end", package(good + bytes(10)), True, False),
        ]
        for name, data, floor_ok, limit_ok in cases:
            with self.subTest(case=name), tempfile.TemporaryDirectory() as out:
                path = os.path.join(out, "package.bin")
                with open(path, "wb") as f:
                    f.write(data)
                target = os.path.join(out, "t")
                os.mkdir(target)
                floor = subprocess.run([os.environ["BENCH_FLOOR"], path], capture_output=True)
                limit = subprocess.run([os.environ["BENCH_LIMIT"], path, target],
                                       capture_output=True)
                self.assertEqual(floor.returncode == 0, floor_ok, floor.stderr)
                self.assertEqual(limit.returncode == 0, limit_ok, limit.stderr)
                if floor_ok:
                    self.assertEqual(json.loads(floor.stdout)["unpacked"],
                                     len(zlib.decompress(data[12:])))
                if limit_ok:
                    written = {}
                    for parent, _, names in os.walk(target):
                        for file in names:
                            full = os.path.join(parent, file)
                            with open(full, "rb") as f:
                                written[os.path.relpath(full, target)] = f.read()
                    self.assertEqual(written, {n.replace("\\", "/"): d for n, d in entries})

    def test_fair_limit_sets_time_and_stored_attributes(self):
        stamp = (1_700_000_000 * 10**7 + 1234567) + 116444736000000000  # 100 ns past a second
        cases = [  # attributes, stored value (None: none), writable
            (0x20, None, True), (0x80, b"0x80", True),
            (0x21, b"0x21", False), (0xA2, b"0x22", True),
        ]
        for attributes, stored, writable in cases:
            with self.subTest(attributes=attributes), tempfile.TemporaryDirectory() as out:
                path = os.path.join(out, "package.bin")
                with open(path, "wb") as f:
                    header = zarpo_format.ENTRY_HEADER.pack(1, attributes, stamp, 1)
                    f.write(package(header + b"ax"))
                run_ = subprocess.run([os.environ["BENCH_LIMIT"], "--fair", path, out],
                                      capture_output=True)
                self.assertEqual(run_.returncode, 0, run_.stderr)
                file = os.path.join(out, "a")
                st = os.stat(file)
                self.assertEqual(st.st_mtime_ns, (stamp - 116444736000000000) * 100)
                self.assertEqual(bool(st.st_mode & 0o222), writable)
                names = os.listxattr(file)
                self.assertEqual(os.getxattr(file, "user.DOSATTRIB") if names else None, stored)


if __name__ == "__main__":
    unittest.main()
