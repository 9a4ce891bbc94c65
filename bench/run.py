#!/usr/bin/env python3
"""Measures the updater against its yardsticks and against what a user would do instead, for
each prepared package, and writes the results: JSON, the tables of docs/performance.md (between
its result markers) and the chart beside it. scripts/bench.sh prepares the work folder and runs
this.

The measuring is measure.py's (the work folder's layout, how each variant is timed); the
tables, goals and chart are report.py's, which can also write them again from the JSON alone.
The chart is drawn only where matplotlib is installed.
"""

import argparse
import json
import sys
import time

import report
from measure import Bench, machine_summary


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--work", required=True)
    parser.add_argument("--floor", required=True, help="the bench-floor program")
    parser.add_argument("--limit", required=True, help="the bench-limit program")
    parser.add_argument("--write-floor", required=True, help="the bench-write-floor program")
    parser.add_argument("--shapes", nargs="+", required=True)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--json", required=True)
    parser.add_argument("--doc", help="markdown file whose result section is replaced")
    parser.add_argument("--chart", help="PNG chart to write (where matplotlib is installed)")
    parser.add_argument("--command", default="bash scripts/bench.sh")
    parser.add_argument("--wine-json", help="the figures of bench/wine.py, to show too")
    args = parser.parse_args(argv)
    if args.rounds < 1:
        parser.error("--rounds must be at least 1")
    bench = Bench(args)
    machine = machine_summary(bench.work)
    results = []
    for shape in args.shapes:
        began = time.perf_counter()
        r = bench.measure(shape, args.rounds, report=lambda name, done, total: print(
            "%s: round %d of %d (%.0f s)" % (name, done, total, time.perf_counter() - began),
            flush=True))
        results.append(r)
        print("%-6s %s" % (shape, "  ".join("%s %s" % (key, report.ms(s["median"]))
                                              for key, s in r["variants"].items())), flush=True)
    with open(args.json, "w") as f:
        json.dump({"machine": machine, "results": results}, f, indent=1)
    wine = None
    if args.wine_json:
        with open(args.wine_json) as f:
            wine = json.load(f)
    report.report(results, machine, args.command, wine, args.doc, args.chart)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
