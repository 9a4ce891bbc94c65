"""Tests of the benchmark's own scripts: the synthetic releases have the promised shape, the
strace reading counts what it should, and the chart is a PNG that decodes to its size."""

import os
import struct
import tempfile
import unittest
import zlib

import chart
import make_release
import run


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
            '101 openat(AT_FDCWD, "/k/Zarpo/a.dll", O_WRONLY|O_CREAT|O_EXCL, 0444) = 3</k/Zarpo/a.dll>',
            '101 write(3</k/Zarpo/a.dll>, "MZ"..., 4096) = 4096',
            '101 write(1</dev/pts/0>, "y\\n", 2) = 2',
            '101 write(4<socket:[1234]>, "\\4\\0\\0\\0", 4) = 4',
            '101 write(5<pipe:[77]>, "x", 1) = 1',
            '101 write(6</dev/null>, "x", 1) = 1',
            '101 pwrite64(3</k/Zarpo/a.dll>, "ab", 2, 0) = 2',
            '101 write(3</k/Zarpo/a.dll>, "ab", 2) = -1 ENOSPC (No space left on device)',
            '101 fsetxattr(3</k/Zarpo/a.dll>, "user.DOSATTRIB", "0x27", 4, 0) = 0',
            '101 setxattr("/k/Zarpo/b.dll", "user.DOSATTRIB", "0x20", 4, 0) = -1 ENOENT (No such file)',
            '101 newfstatat(AT_FDCWD, "/k/Zarpo/a.dll", {st_mode=S_IFREG|0444, ...}, 0) = 0',
            'openat(AT_FDCWD, "/k/Zarpo/c.dll", O_RDONLY|O_CLOEXEC|O_PATH) = 4</k/Zarpo/c.dll>',
            '101 +++ exited with 0 +++',
            '101 exit_group(0)                     = ?',
        ])
        parsed = run.parse_strace(log)
        self.assertEqual(parsed["file_bytes"], 4096 + 2)
        self.assertEqual(parsed["calls"]["write"], 6)
        self.assertEqual(parsed["calls"]["openat"], 2)
        self.assertEqual(parsed["calls"]["exit_group"], 1)
        # The creating open and the successful fsetxattr; not the failed setxattr or the read.
        self.assertEqual(len(parsed["changes"]), 2)

    def test_goals_judge_each_limit(self):
        # Writing from memory (e2) is judged; cp -a (e) only shown, second, when asked for.
        record = {"fresh": 1.0, "floor": 0.5, "copy": 0.5, "write": 0.45, "tar": 0.9,
                  "rerun": 0.6, "start": 0.1, "rerun_file_bytes": 0, "rerun_changes": 0,
                  "unpacked": 10 << 20, "stored": 2 << 20, "fresh_rss_kib": 15000,
                  "rerun_rss_kib": 16 * 1024}
        met = [measured <= limit for _, _, measured, limit in run.goals(record)]
        self.assertEqual(met, [True, False, True, True, True, True])
        record["write"] = 0.4  # 1.10 x (0.5 + 0.4) = 0.99 < 1.0
        record["rerun_file_bytes"] = 1
        record["rerun_rss_kib"] = 16 * 1024 + 1
        met = [measured <= limit for _, _, measured, limit in run.goals(record)]
        self.assertEqual(met, [False, False, True, False, True, False])
        shown = run.goals(record, reference=True)
        self.assertEqual(len(shown), 7)
        self.assertIn("(e)", shown[1][0])
        self.assertAlmostEqual(shown[1][3], 1.10 * (0.5 + 0.5))
        self.assertIn("(e2)", shown[0][0])

    def test_tables_show_both_yardsticks_and_mark_the_reference(self):
        record = {"shape": "1x", "entries": 67, "unpacked": 10 << 20, "stored": 2 << 20,
                  "fresh": 1.0, "floor": 0.5, "copy": 0.2, "write": 0.4, "tar": 1.2,
                  "rerun": 0.6, "start": 0.1, "rerun_file_bytes": 0, "rerun_changes": 0,
                  "fresh_rss_kib": 15000, "rerun_rss_kib": 15000, "calls_start": 100,
                  "calls_fresh": 1440, "calls_rerun": 435, "top_fresh": [("openat", 9)],
                  "top_rerun": [("openat", 3)], "repetitions": 5}
        text = run.tables([record], {"date": "d", "summary": "s"}, "bash scripts/bench.sh")
        self.assertIn("| (e) cp -a | (e2) write | start |", text)
        self.assertIn("| 1x | 67 | 10485760 | 2097152 | 500.0 | 1000.0 | 600.0 | 1200.0 | "
                      "200.0 | 400.0 | 100.0 |", text)
        # Judged against e2: 1000 > 990 missed; against cp -a 1000 > 770, shown as over only.
        self.assertIn("| 1x | (b) <= 1.10 x ((a) + (e2)) | 1000.0 ms | 990.0 ms | **missed** |",
                      text)
        self.assertIn("| (b) <= 1.10 x ((a) + (e)), for reference | 1000.0 ms | 770.0 ms | (over) |",
                      text)
        self.assertIn("| 1x | 1.11 | 1.43 | 0.83 | 1.00 | 15000 | 15000 |", text)
        self.assertIn("| 20.0 | 5.0 | 0 |", text)  # (1440 - 100) / 67 and (435 - 100) / 67


class ChartTest(unittest.TestCase):
    def test_png_decodes_to_its_size(self):
        results = [{"shape": s, "entries": n, "floor": 0.2, "fresh": 0.3 * i + 0.1, "rerun": 0.25,
                    "tar": 0.35, "copy": 0.07, "write": 0.05, "start": 0.01}
                   for i, (s, n) in enumerate([("1x", 67), ("10000", 10000)])]
        with tempfile.TemporaryDirectory() as out:
            path = os.path.join(out, "c.png")
            chart.write_chart(path, results)
            with open(path, "rb") as f:
                data = f.read()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        offset, chunks = 8, {}
        while offset < len(data):
            length, kind = struct.unpack(">I4s", data[offset:offset + 8])
            body = data[offset + 8:offset + 8 + length]
            crc, = struct.unpack(">I", data[offset + 8 + length:offset + 12 + length])
            self.assertEqual(crc, zlib.crc32(kind + body) & 0xFFFFFFFF)
            chunks[kind] = body
            offset += 12 + length
        width, height = struct.unpack(">II", chunks[b"IHDR"][:8])
        pixels = zlib.decompress(chunks[b"IDAT"])
        self.assertEqual(len(pixels), height * (1 + 3 * width))
        self.assertIn(b"IEND", chunks)
        # Something was drawn: not every byte of every row is white.
        self.assertNotEqual(pixels.count(b"\xff"), len(pixels) - height)


if __name__ == "__main__":
    unittest.main()
