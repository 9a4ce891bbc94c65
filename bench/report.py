#!/usr/bin/env python3
"""The benchmark's report: the tables of docs/performance.md (between its result markers), the
goals judged on the medians, and the chart, from the results run.py measured (and from the
Wine figures of wine.py when given). run.py writes the report after measuring; this script
writes it again from the JSON of a run (scripts/bench.sh --keep leaves it in
build/bench/results.json):

    report.py --json RESULTS [--wine-json WINE] [--doc docs/performance.md]
              [--chart docs/performance.png] [--command TEXT]

The chart is drawn only where matplotlib is installed (python3-matplotlib); without it the
tables are written and the chart is left as it is, which is said on standard output.
"""

import argparse
import json
import sys

import chart
from measure import KEYS, LABELS, VARIANTS

BEGIN = "<!-- bench results begin -->"
END = "<!-- bench results end -->"


def goals(r):
    """[(goal, unit, measured, limit)] for one package, judged on the medians, times in
    seconds; a goal is met when measured <= limit."""
    v = r["variants"]
    mib = 1024 * 1024
    memory_limit = (r["unpacked"] + r["stored"] + 4 * mib) // 1024
    peak = max(v["fresh"]["rss_kib"], v["rerun"]["rss_kib"])
    return [
        ("rerun <= 1.25 x floor", "ms", v["rerun"]["median"], 1.25 * v["floor"]["median"]),
        ("fresh <= 1.5 x fair limit", "ms", v["fresh"]["median"], 1.5 * v["fair"]["median"]),
        ("fresh <= tar -xzf (gzip -9)", "ms", v["fresh"]["median"], v["tar"]["median"]),
        ("rerun writes no file data", "bytes", r["rerun_file_bytes"], 0),
        ("rerun makes no change call", "calls", r["rerun_changes"], 0),
        ("peak memory <= unpacked + stored + 4 MiB", "KiB", peak, memory_limit),
    ]


def missed(results):
    """[(package, goal)] of every goal missed."""
    return [(r["shape"], goal) for r in results for goal, _, measured, limit in goals(r)
            if measured > limit]


def ms(seconds):
    return "%.1f" % (seconds * 1000)


def cell(text):
    """`text` as the cell of a markdown table."""
    return text.replace("|", "\\|")


def wine_table(wine, results):
    """The lines of the Wine figures (wine.py's JSON), next to the Linux program's medians of
    the same package when it was measured here too."""
    linux = {r["shape"]: r for r in results}.get(wine["package"])
    lines = ["### Under Wine: the 64-bit twin, package %s (%d entries), %d rounds" % (
        wine["package"], wine["entries"], wine["rounds"]), "",
        "| variant | wall ms: median (min–max) | Linux build, median ms |", "|---|---:|---:|"]
    for key, label in (("fresh", "fresh install"), ("rerun", "rerun (up to date)"),
                       ("start", "start of a console program (stat.exe)")):
        s = wine["variants"][key]
        here = ms(linux["variants"][key]["median"]) if linux and key != "start" else "–"
        lines.append("| %s | %s (%s–%s) | %s |" % (label, ms(s["median"]), ms(s["min"]),
                                                 ms(s["max"]), here))
    return lines


def tables(results, machine, command, wine=None):
    lines = []
    rounds = results[0]["rounds"]
    lines.append("Measured %s on %s; %d rounds per package after one warm-up round, every "
                 "variant once a round in an order rotated from round to round." %
                 (machine["date"], machine["summary"], rounds))
    lines.append("Regenerate with `%s`." % command)
    lines.append("")
    lines.append("### Packages")
    lines.append("")
    lines.append("| package | entries | unpacked | stored |")
    lines.append("|---|---:|---:|---:|")
    for r in results:
        lines.append("| %s | %d | %d | %d |" % (r["shape"], r["entries"], r["unpacked"],
                                                r["stored"]))
    header = "| variant | " + " | ".join(r["shape"] for r in results) + " |"
    rule = "|---|" + "---:|" * len(results)
    lines.append("")
    lines.append("### Wall time (ms): median, min–max over %d rounds" % rounds)
    lines.append("")
    lines.append(header)
    lines.append(rule)
    for key in KEYS:
        lines.append("| %s | %s |" % (cell(LABELS[key]), " | ".join(
            "%s (%s–%s)" % (ms(s["median"]), ms(s["min"]), ms(s["max"]))
            for s in (r["variants"][key] for r in results))))
    lines.append("")
    lines.append("### CPU time (ms): median of user + system")
    lines.append("")
    lines.append(header)
    lines.append(rule)
    for key in KEYS:
        lines.append("| %s | %s |" % (cell(LABELS[key]), " | ".join(
            ms(r["variants"][key]["cpu"]) for r in results)))
    lines.append("")
    lines.append("### Goals")
    lines.append("")
    lines.append("| package | goal | measured | limit | |")
    lines.append("|---|---|---:|---:|---|")
    for r in results:
        for name, unit, measured, limit in goals(r):
            shown = (lambda x: ms(x) + " ms") if unit == "ms" else (lambda x: "%d %s" % (x, unit))
            lines.append("| %s | %s | %s | %s | %s |" % (
                r["shape"], name, shown(measured), shown(limit),
                "met" if measured <= limit else "**missed**"))
    lines.append("")
    lines.append("| package | rerun/floor | fresh/limit | fresh/fair limit | fresh/tar "
                 "| peak KiB fresh | peak KiB rerun |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|")
    for r in results:
        v = {key: s["median"] for key, s in r["variants"].items()}
        lines.append("| %s | %.2f | %.2f | %.2f | %.2f | %d | %d |" % (
            r["shape"], v["rerun"] / v["floor"], v["fresh"] / v["limit"],
            v["fresh"] / v["fair"], v["fresh"] / v["tar"],
            r["variants"]["fresh"]["rss_kib"], r["variants"]["rerun"]["rss_kib"]))
    lines.append("")
    lines.append("### How cost grows")
    lines.append("")
    lines.append("| package | fresh ms/MB | fresh ms/entry | rerun ms/MB | rerun ms/entry "
                 "| calls/entry fresh | calls/entry rerun | rerun bytes written |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|---:|")
    for r in results:
        mb = r["unpacked"] / 1e6
        fresh, rerun = r["variants"]["fresh"]["median"], r["variants"]["rerun"]["median"]
        net = lambda key: (r[key] - r["calls_start"]) / r["entries"]  # noqa: E731
        lines.append("| %s | %.2f | %.3f | %.2f | %.3f | %.1f | %.1f | %d |" % (
            r["shape"], fresh * 1000 / mb, fresh * 1000 / r["entries"], rerun * 1000 / mb,
            rerun * 1000 / r["entries"], net("calls_fresh"), net("calls_rerun"),
            r["rerun_file_bytes"]))
    lines.append("")
    lines.append("Calls per entry: system calls of a traced run (`strace -f`) less those of the "
                 "run with no key disk (%s), divided by the entries. Most frequent calls "
                 "of the package with the most entries:" % ", ".join(
                     "%s %d" % (r["shape"], r["calls_start"]) for r in results))
    lines.append("")
    many = max(results, key=lambda r: r["entries"])
    lines.append("- fresh install (%s): %s" % (many["shape"], ", ".join(
        "%s %d" % tuple(kv) for kv in many["top_fresh"])))
    lines.append("- rerun (%s): %s" % (many["shape"], ", ".join(
        "%s %d" % tuple(kv) for kv in many["top_rerun"])))
    if wine:
        lines.append("")
        lines += wine_table(wine, results)
    return "\n".join(lines)


def write_doc(doc, text):
    with open(doc, encoding="utf-8") as f:
        current = f.read()
    begin = current.index(BEGIN) + len(BEGIN)
    end = current.index(END)
    with open(doc, "w", encoding="utf-8") as f:
        f.write(current[:begin] + "\n" + text + "\n" + current[end:])


def report(results, machine, command, wine=None, doc=None, chart_path=None):
    """Prints the tables, writes them into `doc` and the chart to `chart_path` (when given and
    matplotlib is there), and prints every goal missed."""
    text = tables(results, machine, command, wine)
    print(text)
    if doc:
        write_doc(doc, text)
    if chart_path:
        if chart.available():
            chart.write_chart(chart_path, results, [(key, short) for key, _, short in VARIANTS])
        else:
            print("no chart: %s has no matplotlib (install python3-matplotlib)" % sys.executable)
    for shape, goal in missed(results):
        print("missed: %s: %s" % (shape, goal))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--json", required=True, help="the results run.py wrote")
    parser.add_argument("--doc", help="markdown file whose result section is replaced")
    parser.add_argument("--chart", help="PNG chart to write")
    parser.add_argument("--command", default="bash scripts/bench.sh")
    parser.add_argument("--wine-json", help="the figures of bench/wine.py, to show too")
    args = parser.parse_args(argv)
    with open(args.json) as f:
        measured = json.load(f)
    wine = None
    if args.wine_json:
        with open(args.wine_json) as f:
            wine = json.load(f)
    report(measured["results"], measured["machine"], args.command, wine, args.doc, args.chart)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
