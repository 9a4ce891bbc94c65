"""The benchmark's chart: one panel per package, the median wall time of every variant as a
bar with whiskers from the fastest to the slowest round, on a log scale (the variants of one
package range from a few milliseconds to over a second). Drawn with matplotlib, which is
optional: it is loaded only when a chart is drawn, and available() says whether it is there."""

import importlib.util

# The program's own runs, our yardsticks, and what a user would do instead.
PROGRAM = {"fresh", "rerun", "start"}
YARDSTICKS = {"floor", "limit", "fair", "write"}
COLOURS = {"program": "#1f77b4", "yardstick": "#7f7f7f", "peer": "#ff7f0e"}


def kind(key):
    return "program" if key in PROGRAM else "yardstick" if key in YARDSTICKS else "peer"


def available():
    """Whether matplotlib is installed (python3-matplotlib), without loading it."""
    return importlib.util.find_spec("matplotlib") is not None


def write_chart(path, results, variants):
    """Writes the PNG `path`: a panel for each result of run.py, a bar for each (key, label) of
    `variants` that the result has."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    columns = 2 if len(results) > 1 else 1
    rows = (len(results) + columns - 1) // columns
    height = (0.32 * len(variants) + 1.2) * rows + 0.6
    figure, axes = plt.subplots(rows, columns, figsize=(6.4 * columns, height),
                                layout="constrained", squeeze=False)
    for ax, r in zip(axes.flat, results):
        shown = [(key, label) for key, label in variants if key in r["variants"]]
        stats = [r["variants"][key] for key, _ in shown]
        medians = [s["median"] * 1000 for s in stats]
        below = [(s["median"] - s["min"]) * 1000 for s in stats]
        above = [(s["max"] - s["median"]) * 1000 for s in stats]
        y = range(len(shown))
        ax.barh(y, medians, xerr=[below, above], capsize=2.5, height=0.7,
                color=[COLOURS[kind(key)] for key, _ in shown], error_kw={"elinewidth": 1})
        ax.set_xscale("log")
        low = min(s["min"] for s in stats) * 1000
        high = max(s["max"] for s in stats) * 1000
        ax.set_xlim(low / 2, high * 3)
        for i, s in enumerate(stats):
            median = s["median"] * 1000
            ax.text(s["max"] * 1000 * 1.12, i, ("%.0f" if median >= 10 else "%.1f") % median,
                    va="center", fontsize=8)
        ax.set_yticks(list(y), [label for _, label in shown], fontsize=9)
        ax.invert_yaxis()
        ax.grid(axis="x", alpha=0.3)
        ax.set_axisbelow(True)
        ax.set_title("%s: %d entries, %.1f MB unpacked" % (r["shape"], r["entries"],
                                                          r["unpacked"] / 1e6), fontsize=10)
        ax.set_xlabel("wall time, ms (log scale)", fontsize=9)
    for ax in list(axes.flat)[len(results):]:
        ax.set_visible(False)
    rounds = results[0]["rounds"]
    figure.suptitle("Median wall time over %d round%s, whiskers from min to max; blue: the "
                    "program, grey: our yardsticks, orange: other tools" % (
                        rounds, "" if rounds == 1 else "s"), fontsize=10)
    figure.savefig(path, dpi=100)
    plt.close(figure)
